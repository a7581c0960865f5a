// The report as a whole, written to the real standard error of the test process.

#include <gtest/gtest.h>

#include <string>

#include "support/line_information.h"
#include "failure/failure.h"
#include "failure/report.h"
#include "failure/thread_failures.h"
#include "support/ordered_text.h"

namespace quorvel {
namespace {

using test_support::OrderedText;

[[gnu::noinline]] void failing_helper_for_report_test(int line_marker) {
  fail("helper failed " + std::to_string(line_marker));
}

std::string report_of(void (*raise)()) {
  ::testing::internal::CaptureStderr();
  try {
    raise();
  } catch (const Failure&) {
  }
  return ::testing::internal::GetCapturedStderr();
}

TEST(Report, FirstBlockNamesTheFailingCheck) {
  const std::uint32_t line = std::source_location::current().line() + 1;
  const std::string text = report_of([] { fail("first"); });
  const std::string expected_tail = std::string(__FILE__) + ":" + std::to_string(line);
  EXPECT_EQ(text.rfind("\nthread '<unnamed>' (", 0), 0u) << text;
  EXPECT_NE(text.find(") panicked at " + expected_tail), std::string::npos) << text;
  EXPECT_NE(text.find(":\nfirst\n"), std::string::npos) << text;
}

TEST(Report, FailureDuringAnotherGetsAFullBacktrace) {
  if (!test_support::has_line_information()) GTEST_SKIP() << "this build carries no line information";
  const std::string text = report_of([] {
    const Failure earlier("earlier");  // still in progress on this thread
    failing_helper_for_report_test(7);
  });
  EXPECT_NE(text.find(":\nhelper failed 7\nstack backtrace:\n"), std::string::npos) << text;
  EXPECT_NE(text.find("   0: 0x"), std::string::npos) << text;
  EXPECT_NE(text.find(" - "), std::string::npos) << text;
  EXPECT_NE(text.find("failing_helper_for_report_test"), std::string::npos) << text;
  EXPECT_EQ(text.find("note: Some details"), std::string::npos) << text;
}

using ReportDeathTest = ::testing::Test;

TEST(ReportDeathTest, NonUnwindingFailureEndsTheProcessAfterItsReport) {
  EXPECT_DEATH(fail_non_unwinding("panic in a function that cannot unwind"),
               OrderedText({"panicked at ", ":\npanic in a function that cannot unwind\n",
                            "thread caused non-unwinding panic. aborting.\n"},
                           false, false));
}

TEST(ReportDeathTest, FailureInsideAReportEndsTheProcess) {
  // The location is the death-test macro's own line, which the compiler gives to everything in it.
  const std::uint32_t line = std::source_location::current().line() + 1;
  EXPECT_DEATH(
      {
        set_report_in_progress(true);
        fail("inner");
      },
      OrderedText({"panicked at " + std::string(__FILE__) + ":" + std::to_string(line) + ":",
                   ":\ninner\nthread panicked while processing panic. aborting.\n"},
                  true, true));
}

}  // namespace
}  // namespace quorvel
