#pragma once
// The OS error codes that portable tests need, as this system spells them.

#include <cstdint>

namespace quorvel::os_codes {

inline constexpr std::int32_t missing_stream = 6;  // ERROR_INVALID_HANDLE
inline constexpr std::int32_t broken_pipe = 232;   // ERROR_NO_DATA: the pipe is being closed

}  // namespace quorvel::os_codes
