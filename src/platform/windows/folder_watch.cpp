#include "platform/folder_watch.h"

namespace quorvel::platform {

// Change notifications here would need a thread or an overlapped read per watch: the caller's
// look after a while serves well enough.
std::optional<FolderWatch> FolderWatch::of_path(std::string_view) noexcept { return std::nullopt; }

bool FolderWatch::wait(int) noexcept { return false; }

void FolderWatch::close() noexcept { native_ = -1; }

}  // namespace quorvel::platform
