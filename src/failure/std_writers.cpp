#include "failure/std_writers.h"

#include <expected>
#include <string>

#include "console/shared_writer.h"
#include "failure/failure.h"
#include "platform/static_instance.h"

namespace quorvel {
namespace {

template <class Inner>
class StdWriter {
 public:
  explicit StdWriter(platform::StdStream stream) noexcept : sink_(stream), writer_(sink_, &fail_writer_reentered) {}
  std::expected<void, IoError> write_all(std::string_view text) { return writer_.write_all(text); }

 private:
  StdStreamSink sink_;
  SharedWriter<Inner> writer_;
};

// Created on first use and never destroyed, so whatever waits in the buffer at exit is lost
// rather than written from an exit handler.
StdWriter<LineWriter>& stdout_writer() {
  static StaticInstance<StdWriter<LineWriter>> instance(platform::StdStream::Output);
  return instance.get();
}

StdWriter<UnbufferedWriter>& stderr_writer() {
  static StaticInstance<StdWriter<UnbufferedWriter>> instance(platform::StdStream::Error);
  return instance.get();
}

[[noreturn]] void fail_printing(std::string_view stream_name, const IoError& error,
                                std::source_location where) {
  std::string message = "failed printing to ";
  message += stream_name;
  message += ": ";
  error.append_display(message);
  fail(std::move(message), where);
}

}  // namespace

void fail_writer_reentered() { fail(std::string(already_borrowed_message)); }

void print_stdout(std::string_view text) {
  // The writer's lock is released before the failure is raised.
  if (auto outcome = stdout_writer().write_all(text); !outcome) {
    fail_printing("stdout", outcome.error(), std::source_location::current());
  }
}

void print_stderr(std::string_view text) {
  if (auto outcome = stderr_writer().write_all(text); !outcome) {
    fail_printing("stderr", outcome.error(), std::source_location::current());
  }
}

}  // namespace quorvel
