#include "platform/linux/folder_watch_hub.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/static_instance.h"

namespace quorvel::platform {
namespace {

constexpr std::uint32_t changes = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

// Never destroyed: a watch may still be dropped by code that runs during exit.
struct Current {
  std::mutex mutex;
  std::weak_ptr<FolderWatchHub> hub;
};

Current& current() {
  static StaticInstance<Current> instance;
  return instance.get();
}

}  // namespace

std::shared_ptr<FolderWatchHub> FolderWatchHub::shared() {
  Current& now = current();
  const std::scoped_lock lock(now.mutex);
  if (std::shared_ptr<FolderWatchHub> hub = now.hub.lock()) return hub;
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return nullptr;
  auto hub = std::make_shared<FolderWatchHub>(fd);
  now.hub = hub;
  return hub;
}

FolderWatchHub::~FolderWatchHub() { ::close(fd_); }

std::optional<std::uint64_t> FolderWatchHub::add(const std::string& folder, std::string name) {
  const std::scoped_lock lock(mutex_);
  // The same folder gives the same descriptor, its mask replaced by the same mask.
  const int descriptor = ::inotify_add_watch(fd_, folder.c_str(), changes);
  if (descriptor < 0) return std::nullopt;
  ++folder_users_[descriptor];
  const std::uint64_t watch = next_watch_++;
  watchers_.emplace(watch, Watcher{.folder = descriptor, .name = std::move(name)});
  return watch;
}

void FolderWatchHub::remove(std::uint64_t watch) noexcept {
  const std::scoped_lock lock(mutex_);
  const auto found = watchers_.find(watch);
  if (found == watchers_.end()) return;
  const int descriptor = found->second.folder;
  watchers_.erase(found);
  const auto users = folder_users_.find(descriptor);
  if (users != folder_users_.end() && --users->second == 0) {
    folder_users_.erase(users);
    ::inotify_rm_watch(fd_, descriptor);  // fails harmlessly when the folder is gone already
  }
}

bool FolderWatchHub::wait(std::uint64_t watch, int milliseconds) noexcept {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(mutex_);
  bool looked = false;
  for (;;) {
    Watcher& watcher = watchers_.at(watch);
    if (std::exchange(watcher.changed, false)) return true;
    const Clock::time_point now = Clock::now();
    if (!reading_ && (!looked || now < deadline)) {
      // At least one look, so that a wait of 0 sees what already happened.
      looked = true;
      reading_ = true;
      lock.unlock();
      std::vector<Event> events;
      const int left = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(std::max(deadline - now, Clock::duration::zero())).count());
      const bool whole = read_events(left, events);
      lock.lock();
      reading_ = false;
      hand_out(events);
      handed_out_.notify_all();
      if (!whole) return std::exchange(watchers_.at(watch).changed, false);
      continue;
    }
    if (now >= deadline) return false;
    handed_out_.wait_until(lock, deadline);
  }
}

bool FolderWatchHub::read_events(int milliseconds, std::vector<Event>& events) const noexcept {
  pollfd ready{.fd = fd_, .events = POLLIN, .revents = 0};
  const int got = ::poll(&ready, 1, milliseconds);
  if (got < 0) return errno != EINTR;
  if (got == 0) return true;
  alignas(inotify_event) char buffer[4096];
  try {
    for (;;) {
      const ssize_t length = ::read(fd_, buffer, sizeof buffer);
      if (length <= 0) break;
      for (ssize_t at = 0; at < length;) {
        inotify_event header{};
        std::memcpy(&header, buffer + at, sizeof header);
        const char* name = buffer + at + sizeof header;
        events.push_back({.folder = header.wd, .mask = header.mask, .name = std::string(name, ::strnlen(name, header.len))});
        at += static_cast<ssize_t>(sizeof header + header.len);
      }
    }
  } catch (...) {
    // Out of memory: wake every watch, which then looks at its file.
    events.assign(1, Event{.folder = -1, .mask = IN_Q_OVERFLOW, .name = {}});
  }
  return true;
}

void FolderWatchHub::hand_out(const std::vector<Event>& events) noexcept {
  for (const Event& event : events) {
    for (auto& entry : watchers_) {
      Watcher& watcher = entry.second;
      // An event without a name is the folder's own (removed, moved); a lost queue concerns all.
      const bool concerned = (event.mask & IN_Q_OVERFLOW) != 0 ||
                             (event.folder == watcher.folder && (event.name.empty() || watcher.name.empty() || event.name == watcher.name));
      watcher.changed = watcher.changed || concerned;
    }
  }
}

}  // namespace quorvel::platform
