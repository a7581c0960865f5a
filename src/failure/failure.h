#pragma once
// A failure ends the current call with a message. It is raised in one place, `fail`, which is
// where the failure report is written before anything is released; the exception then unwinds,
// releasing every resource on the way, until the call guard turns it into the Python exception.
//
// A Failure object counts as a failure in progress on its thread for as long as it lives: a
// failure raised while another is unwinding gets a full backtrace. The count goes down again
// when the caught object is destroyed, that is when the handler that caught it ends.

#include <source_location>
#include <string>
#include <string_view>

#include "failure/thread_failures.h"

namespace quorvel {

// Deliberately not derived from std::exception: nothing but the call guard may catch it.
class Failure {
 public:
  explicit Failure(std::string message) noexcept : message_(std::move(message)) { count_failure(); }
  Failure(const Failure& other) : message_(other.message_) { count_failure(); }
  Failure(Failure&& other) noexcept : message_(std::move(other.message_)), counted_(other.counted_) {
    other.counted_ = false;
  }
  Failure& operator=(const Failure&) = delete;
  Failure& operator=(Failure&&) = delete;
  ~Failure() {
    if (counted_) uncount_failure();
  }

  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
  bool counted_ = true;
};

// Writes the failure report and throws the Failure.
[[noreturn]] void fail(std::string message,
                       std::source_location where = std::source_location::current());

// A failure that must not unwind (one reaching a boundary that cannot pass it on): writes the
// report, then "thread caused non-unwinding panic. aborting." and ends the process.
[[noreturn]] void fail_non_unwinding(std::string_view message,
                                     std::source_location where = std::source_location::current()) noexcept;

// "text: " followed by the error value's debug rendering.
template <class Error>
[[noreturn]] void fail_with(std::string_view text, const Error& error,
                            std::source_location where = std::source_location::current()) {
  std::string message(text);
  message += ": ";
  append_debug(message, error);
  fail(std::move(message), where);
}

}  // namespace quorvel
