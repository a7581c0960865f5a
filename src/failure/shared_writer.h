#pragma once
// A writer shared by every thread of the process: a re-entrant lock serialises the users, and
// the state behind it is borrowed by one write at a time. A write started from inside another
// write on the same thread would find it borrowed, which is an internal fault.

#include <expected>
#include <mutex>
#include <string_view>
#include <utility>

#include "failure/failure.h"
#include "failure/io_error.h"
#include "failure/line_writer.h"
#include "failure/raw_sink.h"

namespace quorvel {

inline constexpr std::string_view already_borrowed_message = "RefCell already borrowed";

// Writes each text through the sink in full, unbuffered.
class UnbufferedWriter {
 public:
  explicit UnbufferedWriter(RawSink& sink) noexcept : sink_(sink) {}
  std::expected<void, IoError> write_all(std::string_view text) { return quorvel::write_all(sink_, text); }

 private:
  RawSink& sink_;
};

template <class Inner>
class SharedWriter {
 public:
  explicit SharedWriter(RawSink& sink) noexcept : inner_(sink) {}
  SharedWriter(const SharedWriter&) = delete;
  SharedWriter& operator=(const SharedWriter&) = delete;

  std::expected<void, IoError> write_all(std::string_view text) {
    const std::scoped_lock hold(lock_);
    if (borrowed_) fail(std::string(already_borrowed_message));
    const Borrow borrow(borrowed_);
    return inner_.write_all(text);
  }

  // For tests: the writer's state, read under the lock.
  template <class Visit>
  void inspect(Visit&& visit) {
    const std::scoped_lock hold(lock_);
    std::forward<Visit>(visit)(std::as_const(inner_));
  }

 private:
  class Borrow {
   public:
    explicit Borrow(bool& flag) noexcept : flag_(flag) { flag_ = true; }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    ~Borrow() { flag_ = false; }

   private:
    bool& flag_;
  };

  std::recursive_mutex lock_;
  bool borrowed_ = false;
  Inner inner_;
};

}  // namespace quorvel
