#include "failure/backtrace_style.h"

#include <atomic>

#include "platform/process.h"

namespace quorvel {
namespace {

constexpr std::uint8_t not_read = 0xff;
std::atomic<std::uint8_t> cached{not_read};

}  // namespace

BacktraceStyle style_from_setting(std::optional<std::string_view> value) noexcept {
  if (!value || *value == "0") return BacktraceStyle::Off;
  if (*value == "full") return BacktraceStyle::Full;
  return BacktraceStyle::Short;
}

BacktraceStyle backtrace_style() noexcept {
  const std::uint8_t seen = cached.load(std::memory_order_acquire);
  if (seen != not_read) return static_cast<BacktraceStyle>(seen);
  const auto setting = platform::environment_variable("RUST_BACKTRACE");
  std::uint8_t expected = not_read;
  const auto style = static_cast<std::uint8_t>(style_from_setting(setting));
  // Two threads may read at once; the first to store wins and the other takes its value.
  if (cached.compare_exchange_strong(expected, style, std::memory_order_acq_rel)) return static_cast<BacktraceStyle>(style);
  return static_cast<BacktraceStyle>(expected);
}

}  // namespace quorvel
