#include "reader/readers/read_stop.h"

namespace quorvel {

void ReadStop::request() noexcept {
  requested_.store(true, std::memory_order_release);
  const std::lock_guard lock(mutex_);
  for (const platform::WakeableThread& reader : readers_) reader.wake();
}

ReadStop::Reading::Reading(ReadStop& stop) : stop_(stop) {
  const platform::WakeableThread self = platform::WakeableThread::current();
  const std::lock_guard lock(stop_.mutex_);
  entry_ = stop_.readers_.insert(stop_.readers_.end(), self);
}

ReadStop::Reading::~Reading() {
  const std::lock_guard lock(stop_.mutex_);
  stop_.readers_.erase(entry_);
}

}  // namespace quorvel
