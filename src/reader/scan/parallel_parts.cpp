#include "reader/scan/parallel_parts.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>

#include "failure/caller_error.h"

namespace quorvel {

std::size_t parts_for(std::uint64_t bytes, std::uint64_t least_part_bytes, std::size_t threads) noexcept {
  const std::uint64_t most = std::min<std::uint64_t>(threads, most_parts);
  return static_cast<std::size_t>(std::clamp<std::uint64_t>(bytes / std::max<std::uint64_t>(least_part_bytes, 1), 1, std::max<std::uint64_t>(most, 1)));
}

ParallelParts::ParallelParts(std::size_t parts, platform::InterruptCheck caller)
    : caller_(caller), failures_(parts), first_failed_(std::numeric_limits<std::size_t>::max()) {
  checks_.reserve(parts);
  for (std::size_t k = 0; k < parts; ++k) checks_.push_back({this, k});
}

bool ParallelParts::stop_part(void* context) {
  const auto& check = *static_cast<PartCheck*>(context);
  ParallelParts& parts = *check.parts;
  if (check.k == 0 && !parts.stopped_.load(std::memory_order_relaxed) && parts.caller_.stop_requested()) {
    parts.stopped_.store(true, std::memory_order_relaxed);
  }
  return parts.stopped_.load(std::memory_order_relaxed) || parts.first_failed_.load(std::memory_order_relaxed) < check.k;
}

void ParallelParts::finish(std::size_t k, std::exception_ptr failure) {
  if (failure) {
    failures_[k] = std::move(failure);
    std::size_t first = first_failed_.load();
    while (k < first && !first_failed_.compare_exchange_weak(first, k)) {
    }
  }
  std::lock_guard lock(mutex_);
  --running_;
  finished_.notify_all();
}

namespace {

// A thread joined when it goes away. (std::jthread would do, but its stop state needs a newer
// C++ runtime than the systems the wheels are built for promise.)
class JoiningThread {
 public:
  template <class Function, class... Arguments>
  explicit JoiningThread(Function&& function, Arguments&&... arguments)
      : thread_(std::forward<Function>(function), std::forward<Arguments>(arguments)...) {}
  JoiningThread(JoiningThread&&) noexcept = default;
  JoiningThread& operator=(JoiningThread&&) = delete;
  ~JoiningThread() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace

void ParallelParts::run(const std::function<void(std::size_t)>& part) {
  auto guarded = [&](std::size_t k) {
    std::exception_ptr failure;
    try {
      part(k);
    } catch (...) {
      failure = std::current_exception();
    }
    finish(k, std::move(failure));
  };
  running_ = size();
  {
    std::vector<JoiningThread> threads;
    threads.reserve(size());
    // A part no thread could be started for (the system is out of them) runs here, after part 0.
    std::size_t started = 1;
    try {
      for (; started < size(); ++started) threads.emplace_back(guarded, started);
    } catch (const std::system_error&) {
    }
    guarded(0);
    for (std::size_t k = started; k < size(); ++k) guarded(k);
    // The others may still run: the caller's check is asked while waiting, so that a stop
    // reaches them.
    std::unique_lock lock(mutex_);
    while (running_ > 0) {
      if (finished_.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout &&
          !stopped_.load(std::memory_order_relaxed)) {
        lock.unlock();
        if (caller_.stop_requested()) stopped_.store(true, std::memory_order_relaxed);
        lock.lock();
      }
    }
  }
  if (stopped_.load()) throw CallerError{};
  for (auto& failure : failures_) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace quorvel
