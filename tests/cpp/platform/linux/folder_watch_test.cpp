// Folder watches: one inotify instance for the process whatever their number, released with the
// last; a watch wakes for its own file only, each watch of a file for each of its changes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/folder_watch.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

int inotify_instances() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error).string() == "anon_inode:inotify") ++count;
  }
  return count;
}

class Folder {
 public:
  Folder() : path_(fs::temp_directory_path() / ("quorvel-watch-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++))) {
    fs::create_directory(path_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() { fs::remove_all(path_); }

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary | std::ios::app) << bytes; }

platform::FolderWatch watch_of(const std::string& path) {
  std::optional<platform::FolderWatch> watch = platform::FolderWatch::of_path(path);
  EXPECT_TRUE(watch.has_value());
  return std::move(watch).value();
}

TEST(FolderWatch, AllWatchesShareOneInstanceReleasedWithTheLast) {
  const int before = inotify_instances();
  Folder first, second;
  {
    std::vector<platform::FolderWatch> watches;
    for (int k = 0; k < 130; ++k) watches.push_back(watch_of((k % 2 ? first : second) / ("run" + std::to_string(k % 5) + ".plt")));
    EXPECT_EQ(inotify_instances(), before + 1);
    watches.erase(watches.begin(), watches.begin() + 129);
    EXPECT_EQ(inotify_instances(), before + 1);
    write(second / "run0.plt", "x");  // watch 129 is of `first`: an event there only
    write(first / "run4.plt", "x");
    EXPECT_TRUE(watches.front().wait(0));
  }
  EXPECT_EQ(inotify_instances(), before);
  platform::FolderWatch again = watch_of(first / "run.plt");
  EXPECT_EQ(inotify_instances(), before + 1);
}

TEST(FolderWatch, ThreadsWaitingAtOnceEachGetTheirFilesChange) {
  Folder folder;
  std::vector<platform::FolderWatch> watches;
  for (int k = 0; k < 4; ++k) watches.push_back(watch_of(folder / ("run" + std::to_string(k))));
  std::vector<int> woken(watches.size(), -1);
  {
    std::vector<std::jthread> waiters;
    // Whichever reads the instance hands the others their events; a wait that never came would
    // end after a minute, false.
    for (std::size_t k = 0; k < watches.size(); ++k) waiters.emplace_back([&, k] { woken[k] = watches[k].wait(60'000); });
    for (std::size_t k = 0; k < watches.size(); ++k) write(folder / ("run" + std::to_string(k)), "x");
  }
  EXPECT_EQ(woken, std::vector<int>(watches.size(), 1));
}

struct Change {
  const char* what;
  std::function<void(const Folder&)> make;
  bool wakes;
};

class FolderWatchChange : public ::testing::TestWithParam<Change> {};

TEST_P(FolderWatchChange, WakesEveryWatchOfTheFileOnlyForItsChanges) {
  Folder folder;
  write(folder / "run.plt", "old");
  platform::FolderWatch one = watch_of(folder / "run.plt");
  platform::FolderWatch two = watch_of(folder / "run.plt");
  platform::FolderWatch other = watch_of(folder / "elsewhere.plt");
  GetParam().make(folder);
  EXPECT_EQ(one.wait(0), GetParam().wakes);
  EXPECT_EQ(two.wait(0), GetParam().wakes);
  EXPECT_FALSE(one.wait(0));  // taken by the wait before
  EXPECT_FALSE(other.wait(0));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, FolderWatchChange,
    ::testing::Values(Change{"appended", [](const Folder& f) { write(f / "run.plt", "more"); }, true},
                      Change{"replaced", [](const Folder& f) { write(f / "new", "x"); fs::rename(f / "new", f / "run.plt"); }, true},
                      Change{"removed", [](const Folder& f) { fs::remove(f / "run.plt"); }, true},
                      Change{"another written", [](const Folder& f) { write(f / "log.txt", "line\n"); }, false},
                      Change{"another removed", [](const Folder& f) { write(f / "a", "x"); fs::remove(f / "a"); }, false}),
    [](const ::testing::TestParamInfo<Change>& info) {
      std::string name = info.param.what;
      std::erase(name, ' ');
      return name;
    });

}  // namespace
}  // namespace quorvel
