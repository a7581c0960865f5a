#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

namespace quorvel::platform {

std::uint64_t current_thread_id() noexcept {
  const pid_t id = ::gettid();
  return id > 0 ? static_cast<std::uint64_t>(id) : 0;
}

std::optional<std::string_view> environment_variable(const char* name) noexcept {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string_view(value);
}

void terminate_process() noexcept { std::abort(); }

}  // namespace quorvel::platform
