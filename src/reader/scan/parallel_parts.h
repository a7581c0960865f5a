#pragma once
// Runs the parts of one read at once: part 0 on the caller's thread, every other on a thread of
// its own. The caller's interrupt check is asked on the caller's thread only (it may need the
// caller's runtime); its answer, and the failure of a part, reach the other parts through the
// checks their readers are given. The outcome is the first failure in part order, as a reader
// going through the parts one after the other would meet it.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace quorvel {

// More parts than this gain nothing on any machine the reader meets, and each costs a thread's
// start and its buffers: a caller asking for a million threads gets this many.
inline constexpr std::size_t most_parts = 64;

// The parts `bytes` are read or counted in: no more than `threads` or `most_parts`, each of at
// least `least_part_bytes`, and one at least.
std::size_t parts_for(std::uint64_t bytes, std::uint64_t least_part_bytes, std::size_t threads) noexcept;

class ParallelParts {
 public:
  ParallelParts(std::size_t parts, platform::InterruptCheck caller);
  ParallelParts(const ParallelParts&) = delete;
  ParallelParts& operator=(const ParallelParts&) = delete;

  std::size_t size() const noexcept { return checks_.size(); }

  // The check part `k`'s reader asks: true once the caller asked to stop, or a part before it failed
  // (its outcome no longer matters).
  platform::InterruptCheck check_for(std::size_t k) noexcept { return {.stop = &stop_part, .context = &checks_[k]}; }

  // Runs `part(k)` for every part and waits for all; then throws CallerError when the caller
  // asked to stop, else the exception of the first part that threw.
  void run(const std::function<void(std::size_t)>& part);

 private:
  struct PartCheck {
    ParallelParts* parts;
    std::size_t k;
  };
  static bool stop_part(void* context);
  void finish(std::size_t k, std::exception_ptr failure);

  platform::InterruptCheck caller_;
  std::vector<PartCheck> checks_;
  std::vector<std::exception_ptr> failures_;
  std::atomic<bool> stopped_{false};
  std::atomic<std::size_t> first_failed_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::size_t running_ = 0;
};

}  // namespace quorvel
