#pragma once
// A failure ends the current call with a message. It is raised in one place, `fail`, which is
// where the failure report is written before anything is released; the exception then unwinds,
// releasing every resource on the way, until the call guard turns it into the Python exception.

#include <source_location>
#include <string>
#include <string_view>

namespace quorvel {

// Deliberately not derived from std::exception: nothing but the call guard may catch it.
class Failure {
 public:
  explicit Failure(std::string message) noexcept : message_(std::move(message)) {}
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void fail(std::string message,
                       std::source_location where = std::source_location::current());

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
