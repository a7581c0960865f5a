#pragma once
// A stop asked for by another thread (the one that waits for a pool of reads, on Ctrl-C). Each
// read that takes it sees the flag at its next interrupt check; a read blocked in an open or a
// read of a FIFO or pipe makes no check until it is woken, so the threads reading are known and
// woken too.

#include <atomic>
#include <list>
#include <mutex>

#include "platform/thread_wake.h"

namespace quorvel {

class ReadStop {
 public:
  ReadStop() = default;
  ReadStop(const ReadStop&) = delete;
  ReadStop& operator=(const ReadStop&) = delete;

  // Sets the flag and wakes every thread reading. A wake can arrive just before the blocking call
  // it was meant for: ask again while reads go on.
  void request() noexcept;
  bool requested() const noexcept { return requested_.load(std::memory_order_acquire); }

  // The calling thread counts as reading, and may be woken, for as long as this lives.
  class Reading {
   public:
    explicit Reading(ReadStop& stop);  // std::bad_alloc
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;
    ~Reading();

   private:
    ReadStop& stop_;
    std::list<platform::WakeableThread>::iterator entry_;
  };

 private:
  std::atomic<bool> requested_{false};
  std::mutex mutex_;  // over `readers_`: a thread leaves under it, so none is woken after it left
  std::list<platform::WakeableThread> readers_;
};

}  // namespace quorvel
