#pragma once
// A writer shared by every thread of the process: a re-entrant lock serialises the users, and
// the state behind it is borrowed by one write at a time. A write started from inside another
// write on the same thread would find it borrowed, which is an internal fault: the owner says
// how it ends, as this layer knows nothing of failures.

#include <expected>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/io_error.h"
#include "console/line_writer.h"
#include "console/raw_sink.h"

namespace quorvel {

// Writes each text through the sink in full, unbuffered.
class UnbufferedWriter {
 public:
  explicit UnbufferedWriter(RawSink& sink) noexcept : sink_(sink) {}
  std::expected<void, IoError> write_all(std::string_view text) { return quorvel::write_all(sink_, text); }

 private:
  RawSink& sink_;
};

// Called, under the lock, when a write finds the writer borrowed; never returns.
using ReentryFault = void (*)();

template <class Inner>
class SharedWriter {
 public:
  SharedWriter(RawSink& sink, ReentryFault reentered) noexcept : inner_(sink), reentered_(reentered) {}
  SharedWriter(const SharedWriter&) = delete;
  SharedWriter& operator=(const SharedWriter&) = delete;

  std::expected<void, IoError> write_all(std::string_view text) {
    const std::scoped_lock hold(lock_);
    if (borrowed_) reentered_();
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
  ReentryFault reentered_;
};

}  // namespace quorvel
