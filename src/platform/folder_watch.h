#pragma once
// Waiting for a file to change without polling it: a watch on the folder that holds it wakes when
// that file is created, written, moved or removed there (it may not exist yet, or be replaced);
// the folder's other files do not wake it. Every watch of the process shares one notification
// instance of the system, which a user may hold only a few of; the last watch releases it.

#include <memory>
#include <optional>
#include <string_view>

namespace quorvel::platform {

class FolderWatch {
 public:
  // A watch on the folder of `utf8_path`; nothing where the system offers none (or refuses one):
  // the caller then looks again after a while.
  static std::optional<FolderWatch> of_path(std::string_view utf8_path) noexcept;

  FolderWatch(FolderWatch&& other) noexcept;
  FolderWatch& operator=(FolderWatch&& other) noexcept;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch();

  // Waits up to `milliseconds` for a change of the file; true when one came (since the last wait).
  // A signal ends the wait early, with false, so that the caller can take it.
  bool wait(int milliseconds) noexcept;

  struct Registration;  // the system's side, one per platform

 private:
  explicit FolderWatch(std::unique_ptr<Registration> registration) noexcept;
  std::unique_ptr<Registration> registration_;
};

}  // namespace quorvel::platform
