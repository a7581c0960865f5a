#pragma once
// Waiting for a file to change without polling it: a watch on the folder that holds it wakes when
// a file there is created, written, moved or removed (the file may not exist yet, or be replaced).

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace quorvel::platform {

class FolderWatch {
 public:
  // A watch on the folder of `utf8_path`; nothing where the system offers none (or refuses one):
  // the caller then looks again after a while.
  static std::optional<FolderWatch> of_path(std::string_view utf8_path) noexcept;

  FolderWatch(FolderWatch&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
  FolderWatch& operator=(FolderWatch&& other) noexcept {
    if (this != &other) {
      close();
      native_ = std::exchange(other.native_, -1);
    }
    return *this;
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch() { close(); }

  // Waits up to `milliseconds` for a change; true when one came. The changes seen are consumed.
  bool wait(int milliseconds) noexcept;

 private:
  explicit FolderWatch(std::intptr_t native) noexcept : native_(native) {}
  void close() noexcept;
  std::intptr_t native_;
};

}  // namespace quorvel::platform
