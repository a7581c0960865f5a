#pragma once
// The OS error codes that portable tests need, as this system spells them.

#include <cerrno>
#include <cstdint>

namespace quorvel::os_codes {

inline constexpr std::int32_t missing_stream = EBADF;
inline constexpr std::int32_t broken_pipe = EPIPE;

}  // namespace quorvel::os_codes
