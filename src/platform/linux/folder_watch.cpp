#include "platform/folder_watch.h"

#include <string>

#include "platform/linux/folder_watch_hub.h"

namespace quorvel::platform {

struct FolderWatch::Registration {
  std::shared_ptr<FolderWatchHub> hub;
  std::uint64_t watch;

  Registration(std::shared_ptr<FolderWatchHub> shared_hub, std::uint64_t id) noexcept : hub(std::move(shared_hub)), watch(id) {}
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() { hub->remove(watch); }
};

std::optional<FolderWatch> FolderWatch::of_path(std::string_view utf8_path) noexcept {
  if (utf8_path.find('\0') != std::string_view::npos) return std::nullopt;
  try {
    const std::size_t slash = utf8_path.find_last_of('/');
    const std::string folder(slash == std::string_view::npos ? "." : (slash == 0 ? "/" : utf8_path.substr(0, slash)));
    std::string name(slash == std::string_view::npos ? utf8_path : utf8_path.substr(slash + 1));
    std::shared_ptr<FolderWatchHub> hub = FolderWatchHub::shared();
    if (!hub) return std::nullopt;
    const std::optional<std::uint64_t> watch = hub->add(folder, std::move(name));
    if (!watch) return std::nullopt;
    return FolderWatch(std::make_unique<Registration>(std::move(hub), *watch));
  } catch (...) {
    return std::nullopt;
  }
}

FolderWatch::FolderWatch(std::unique_ptr<Registration> registration) noexcept : registration_(std::move(registration)) {}
FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;
FolderWatch::~FolderWatch() = default;

bool FolderWatch::wait(int milliseconds) noexcept { return registration_->hub->wait(registration_->watch, milliseconds); }

}  // namespace quorvel::platform
