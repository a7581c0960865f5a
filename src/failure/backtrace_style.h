#pragma once
// How much stack the failure report shows, from the environment variable RUST_BACKTRACE: read
// once per process, on the first report that needs it; later changes have no effect.

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

enum class BacktraceStyle : std::uint8_t { Off, Short, Full };

// Unset or exactly "0": Off; exactly "full": Full; anything else, the empty text included: Short.
BacktraceStyle style_from_setting(std::optional<std::string_view> value) noexcept;

// The process's style, reading the environment the first time.
BacktraceStyle backtrace_style() noexcept;

}  // namespace quorvel
