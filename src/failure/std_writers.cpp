#include "failure/std_writers.h"

#include <string>

#include "failure/failure.h"
#include "platform/platform.h"

namespace quorvel {
namespace {

std::expected<void, IoError> write_all(platform::StdStream stream, std::string_view text) {
  while (!text.empty()) {
    auto written = platform::write_std(stream, text);
    if (!written) {
      if (written.error().kind() == ErrorKind::Interrupted) continue;
      if (platform::is_missing_stream_error(written.error())) return {};
      return std::unexpected(written.error());
    }
    if (*written == 0) {
      return std::unexpected(IoError::simple_message(ErrorKind::WriteZero, io_messages::write_zero));
    }
    text.remove_prefix(*written);
  }
  return {};
}

void print_to(platform::StdStream stream, std::string_view name, std::string_view text) {
  auto outcome = write_all(stream, text);
  if (!outcome) {
    std::string message = "failed printing to ";
    message += name;
    message += ": ";
    outcome.error().append_display(message);
    fail(std::move(message));
  }
}

}  // namespace

void print_stdout(std::string_view text) { print_to(platform::StdStream::Output, "stdout", text); }
void print_stderr(std::string_view text) { print_to(platform::StdStream::Error, "stderr", text); }

}  // namespace quorvel
