#pragma once
// Waking a thread blocked in an open or a read (of a FIFO without a writer, a pipe, a terminal),
// so that its call fails as interrupted and asks its interrupt check. A flag alone cannot stop
// such a call: the thread does not look at it until the call returns.

#include <cstdint>

namespace quorvel::platform {

class WakeableThread {
 public:
  // The calling thread. From then on a wake interrupts its blocking calls and does nothing else.
  static WakeableThread current() noexcept;

  // Interrupts the blocking call the thread is in. A wake that arrives just before the call starts
  // is lost: whoever wakes repeats it until the thread has stopped. The thread must not have ended.
  void wake() const noexcept;

 private:
  explicit WakeableThread(std::uintptr_t native) noexcept : native_(native) {}
  std::uintptr_t native_;
};

}  // namespace quorvel::platform
