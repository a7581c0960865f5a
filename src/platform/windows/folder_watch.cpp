#include "platform/folder_watch.h"

#include <utility>

namespace quorvel::platform {

// Change notifications here would need a thread or an overlapped read per watch: the caller's
// look after a while serves well enough.
struct FolderWatch::Registration {};

std::optional<FolderWatch> FolderWatch::of_path(std::string_view) noexcept { return std::nullopt; }

FolderWatch::FolderWatch(std::unique_ptr<Registration> registration) noexcept : registration_(std::move(registration)) {}
FolderWatch::FolderWatch(FolderWatch&&) noexcept = default;
FolderWatch& FolderWatch::operator=(FolderWatch&&) noexcept = default;
FolderWatch::~FolderWatch() = default;

bool FolderWatch::wait(int) noexcept { return false; }

}  // namespace quorvel::platform
