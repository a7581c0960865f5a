// Backtrace entries name functions in full: scope, demangled, with their parameters.

#include <gtest/gtest.h>

#include <string>

#include "failure/failure.h"

namespace quorvel {
namespace {

[[gnu::noinline]] void failing_helper_for_names_test(int line_marker) {
  fail("helper failed " + std::to_string(line_marker));
}

TEST(BacktraceNames, FullFormNamesQualifiedDemangledFunctions) {
  ::testing::internal::CaptureStderr();
  try {
    const Failure earlier("earlier");  // a failure in progress asks for the full form
    failing_helper_for_names_test(7);
  } catch (const Failure&) {
  }
  const std::string text = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(text.find(" - quorvel::fail("), std::string::npos) << text;
  EXPECT_NE(text.find("failing_helper_for_names_test(int)"), std::string::npos) << text;
}

}  // namespace
}  // namespace quorvel
