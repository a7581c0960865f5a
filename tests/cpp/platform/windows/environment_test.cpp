// Environment variables read through the wide call, handed out as UTF-8.

#include "platform/windows/windows_headers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/process.h"

namespace quorvel {
namespace {

struct EnvCase {
  std::string name;
  std::optional<std::wstring> value;  // nothing: unset
  std::optional<std::string> read;
};

void PrintTo(const EnvCase& c, std::ostream* out) { *out << c.name; }

class Environment : public ::testing::TestWithParam<EnvCase> {};

TEST_P(Environment, ReadsTheValueAsUtf8) {
  const wchar_t* name = L"QUORVEL_ENVIRONMENT_TEST";
  ::SetEnvironmentVariableW(name, GetParam().value ? GetParam().value->c_str() : nullptr);
  const auto read = platform::environment_variable("QUORVEL_ENVIRONMENT_TEST");
  ::SetEnvironmentVariableW(name, nullptr);
  ASSERT_EQ(read.has_value(), GetParam().read.has_value());
  if (read) {
    EXPECT_EQ(std::string(*read), *GetParam().read);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Environment,
    ::testing::Values(EnvCase{"Unset", std::nullopt, std::nullopt},
                      EnvCase{"Empty", L"", ""},  // set but empty is not unset
                      EnvCase{"Zero", L"0", "0"}, EnvCase{"Full", L"full", "full"},
                      EnvCase{"BeyondAscii", L"caf\u00E9 \U0001F600", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
                      EnvCase{"LongerThanTheFirstBuffer", std::wstring(300, L'x'), std::string(300, 'x')},
                      EnvCase{"ExactlyTheFirstBuffer", std::wstring(64, L'y'), std::string(64, 'y')}),
    [](const auto& info) { return info.param.name; });

TEST(ThreadId, IsTheSystemsIdentifier) {
  EXPECT_EQ(platform::current_thread_id(), ::GetCurrentThreadId());
}

}  // namespace
}  // namespace quorvel
