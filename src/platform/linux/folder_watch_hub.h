#pragma once
// The process's one inotify instance, shared by its folder watches: a user may hold only 128, so
// one per watch would let a process that follows many files starve every other program of that
// user. Each watch names the file it waits for; the events of the folder's other files are
// dropped. Whichever waiting thread finds nobody reading the instance reads it and hands each
// event to the watches it concerns.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::platform {

class FolderWatchHub {
 public:
  // The hub while any watch holds it, else a new one; nullptr when the system refuses an instance.
  static std::shared_ptr<FolderWatchHub> shared();

  explicit FolderWatchHub(int fd) noexcept : fd_(fd) {}
  FolderWatchHub(const FolderWatchHub&) = delete;
  FolderWatchHub& operator=(const FolderWatchHub&) = delete;
  ~FolderWatchHub();

  // A watch of the file `name` in `folder` (any file there when `name` is empty); nothing when
  // the folder cannot be watched.
  std::optional<std::uint64_t> add(const std::string& folder, std::string name);
  void remove(std::uint64_t watch) noexcept;

  // As FolderWatch::wait, for `watch`.
  bool wait(std::uint64_t watch, int milliseconds) noexcept;

 private:
  struct Watcher {
    int folder;  // the inotify watch descriptor, shared by the watchers of one folder
    std::string name;
    bool changed = false;
  };
  struct Event {
    int folder;
    std::uint32_t mask;
    std::string name;
  };

  // Reads what the instance holds, waiting up to `milliseconds` for it; false on a signal.
  bool read_events(int milliseconds, std::vector<Event>& events) const noexcept;
  void hand_out(const std::vector<Event>& events) noexcept;

  const int fd_;
  std::mutex mutex_;
  std::condition_variable handed_out_;
  bool reading_ = false;  // a thread is reading the instance, without the mutex
  std::uint64_t next_watch_ = 0;
  std::map<std::uint64_t, Watcher> watchers_;
  std::map<int, std::size_t> folder_users_;
};

}  // namespace quorvel::platform
