#include "failure/report.h"

#include <array>
#include <atomic>
#include <charconv>
#include <initializer_list>
#include <mutex>
#include <string>

#include "failure/backtrace_format.h"
#include "failure/backtrace_style.h"
#include "failure/thread_failures.h"
#include "platform/process.h"

namespace quorvel {
namespace {

// The module names no thread of the interpreter.
constexpr std::string_view thread_name = "<unnamed>";

std::mutex report_lock;
std::atomic<bool> first_note{true};

// Decimal digits of a number, in a buffer of their own; no allocation.
class Decimal {
 public:
  explicit Decimal(std::uint64_t value) noexcept
      : length_(static_cast<std::size_t>(std::to_chars(digits_.data(), digits_.data() + digits_.size(), value).ptr -
                                         digits_.data())) {}
  std::string_view text() const noexcept { return {digits_.data(), length_}; }

 private:
  std::array<char, 20> digits_{};
  std::size_t length_;
};

std::uint64_t thread_identifier() noexcept {
  // Should the system ever give 0, a number of our own, counted from 1, stands in.
  static std::atomic<std::uint64_t> next_stand_in{1};
  thread_local std::uint64_t stand_in = 0;
  const std::uint64_t id = platform::current_thread_id();
  if (id != 0) return id;
  if (stand_in == 0) stand_in = next_stand_in.fetch_add(1, std::memory_order_relaxed);
  return stand_in;
}

// Writes each piece in turn, stopping at the first error.
std::expected<void, IoError> write_pieces(RawSink& sink, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) {
    if (auto written = write_all(sink, piece); !written) return written;
  }
  return {};
}

[[noreturn]] void abort_with(RawSink& sink, std::initializer_list<std::string_view> pieces) noexcept {
  (void)write_pieces(sink, pieces);
  platform::terminate_process();
}

class ReportMark {
 public:
  ReportMark() noexcept { set_report_in_progress(true); }
  ReportMark(const ReportMark&) = delete;
  ReportMark& operator=(const ReportMark&) = delete;
  ~ReportMark() { set_report_in_progress(false); }
};

void write_backtrace(RawSink& sink, BacktraceForm form) {
  const std::size_t limit = form == BacktraceForm::Short ? short_backtrace_frame_limit : SIZE_MAX;
  const std::string text = format_backtrace(platform::capture_stack(limit), form);
  (void)write_all(sink, text);
}

}  // namespace

std::expected<void, IoError> write_first_block(RawSink& sink, std::string_view name, std::uint64_t thread_id,
                                               const Location& where, std::string_view message) {
  const Decimal id(thread_id);
  const Decimal line(where.line);
  const Decimal column(where.column);
  const std::initializer_list<std::string_view> pieces{
      "\nthread '", name,        "' (", id.text(), ") panicked at ", where.file, ":", line.text(), ":",
      column.text(), ":\n", message, "\n"};

  std::array<char, first_block_capacity> buffer;
  std::size_t length = 0;
  for (std::string_view piece : pieces) {
    if (piece.size() > buffer.size() - length) return write_pieces(sink, pieces);
    piece.copy(buffer.data() + length, piece.size());
    length += piece.size();
  }
  return write_all(sink, std::string_view(buffer.data(), length));
}

void write_failure_report(const ReportRequest& request) noexcept {
  StdStreamSink standard_error(platform::StdStream::Error);
  const Decimal line(request.where.line);
  const Decimal column(request.where.column);

  if (report_in_progress()) {
    abort_with(standard_error, {"panicked at ", request.where.file, ":", line.text(), ":", column.text(), ":\n",
                                request.message,
                                "\nthread panicked while processing panic. aborting.\n"});
  }
  {
    const ReportMark mark;
    // A failure raised while an earlier one unwinds shows everything.
    const BacktraceStyle style = failures_in_progress() > 0 ? BacktraceStyle::Full : backtrace_style();

    const std::scoped_lock hold(report_lock);
    // Write errors end the report quietly; so does running out of memory for the backtrace.
    try {
      if (write_first_block(standard_error, thread_name, thread_identifier(), request.where, request.message)) {
        if (style == BacktraceStyle::Short) {
          write_backtrace(standard_error, BacktraceForm::Short);
        } else if (style == BacktraceStyle::Full) {
          write_backtrace(standard_error, BacktraceForm::Full);
        } else if (style == BacktraceStyle::Off && first_note.exchange(false)) {
          (void)write_all(standard_error, backtrace_hint_note);
        }
      }
    } catch (...) {
    }
    // Still under the lock, so that another thread's report cannot come between the report
    // and its closing line; the lock is never released, the process ends here.
    if (!request.may_unwind) {
      abort_with(standard_error, {"thread caused non-unwinding panic. aborting.\n"});
    }
  }
}

}  // namespace quorvel
