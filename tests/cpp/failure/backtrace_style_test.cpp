#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "failure/backtrace_style.h"

namespace quorvel {
namespace {

struct StyleCase {
  std::string name;
  std::optional<std::string> value;
  BacktraceStyle style;
};

void PrintTo(const StyleCase& c, std::ostream* out) { *out << c.name; }

class StyleSetting : public ::testing::TestWithParam<StyleCase> {};

TEST_P(StyleSetting, FollowsTheTable) {
  const StyleCase& c = GetParam();
  const std::optional<std::string_view> value = c.value ? std::optional<std::string_view>(*c.value) : std::nullopt;
  EXPECT_EQ(style_from_setting(value), c.style);
}

INSTANTIATE_TEST_SUITE_P(Cases, StyleSetting,
                         ::testing::Values(StyleCase{"Unset", std::nullopt, BacktraceStyle::Off},
                                           StyleCase{"Zero", "0", BacktraceStyle::Off},
                                           StyleCase{"Full", "full", BacktraceStyle::Full},
                                           StyleCase{"Empty", "", BacktraceStyle::Short},
                                           StyleCase{"One", "1", BacktraceStyle::Short},
                                           StyleCase{"ShortWord", "short", BacktraceStyle::Short},
                                           StyleCase{"FullCapitalised", "Full", BacktraceStyle::Short},
                                           StyleCase{"FullUpper", "FULL", BacktraceStyle::Short},
                                           StyleCase{"FullSpaced", " full", BacktraceStyle::Short},
                                           StyleCase{"DoubleZero", "00", BacktraceStyle::Short},
                                           StyleCase{"ZeroSpaced", "0 ", BacktraceStyle::Short},
                                           StyleCase{"False", "false", BacktraceStyle::Short}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel
