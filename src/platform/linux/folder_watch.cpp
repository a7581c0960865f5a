#include "platform/folder_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace quorvel::platform {

std::optional<FolderWatch> FolderWatch::of_path(std::string_view utf8_path) noexcept {
  if (utf8_path.find('\0') != std::string_view::npos) return std::nullopt;
  try {
    std::string folder(utf8_path);
    const std::size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : folder.substr(0, slash));
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return std::nullopt;
    FolderWatch watch(fd);
    constexpr std::uint32_t changes = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM |
                                      IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
    if (::inotify_add_watch(fd, folder.c_str(), changes) < 0) return std::nullopt;
    return watch;
  } catch (...) {
    return std::nullopt;
  }
}

bool FolderWatch::wait(int milliseconds) noexcept {
  pollfd ready{.fd = static_cast<int>(native_), .events = POLLIN, .revents = 0};
  if (::poll(&ready, 1, milliseconds) <= 0) return false;
  alignas(inotify_event) char events[4096];
  while (::read(static_cast<int>(native_), events, sizeof events) > 0) {
  }
  return true;
}

void FolderWatch::close() noexcept {
  if (native_ >= 0) ::close(static_cast<int>(native_));
  native_ = -1;
}

}  // namespace quorvel::platform
