#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "support/line_information.h"
#include "platform/process.h"

namespace quorvel {
namespace {

[[gnu::noinline]] std::vector<platform::StackFrame> walk_from_named_function_for_test(std::size_t limit) {
  auto frames = platform::capture_stack(limit);
  asm volatile("" ::: "memory");  // keep the call from becoming a tail call
  return frames;
}

bool names(const platform::StackFrame& frame, std::string_view part) {
  for (const auto& symbol : frame.symbols) {
    if (symbol.name.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST(CaptureStack, FindsTheCallerWithItsSourceLine) {
  if (!test_support::has_line_information()) GTEST_SKIP() << "this build carries no line information";
  const auto frames = walk_from_named_function_for_test(64);
  ASSERT_FALSE(frames.empty());
  const auto found = std::ranges::find_if(frames, [](const auto& f) { return names(f, "walk_from_named_function_for_test"); });
  ASSERT_TRUE(found != frames.end()) << "no frame names walk_from_named_function_for_test";
  const auto& symbol = found->symbols.back();
  EXPECT_NE(symbol.file.find("capture_stack_test.cpp"), std::string::npos) << symbol.file;
  EXPECT_GT(symbol.line, 0u);
  // The test body calls the helper: it is found further out.
  EXPECT_TRUE(std::any_of(found + 1, frames.end(), [](const auto& f) { return names(f, "FindsTheCallerWithItsSourceLine"); }));
}

class CaptureLimit : public ::testing::TestWithParam<std::size_t> {};

TEST_P(CaptureLimit, StopsAtTheLimit) {
  EXPECT_LE(platform::capture_stack(GetParam()).size(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, CaptureLimit, ::testing::Values(0u, 1u, 2u, 5u),
                         [](const auto& info) { return "limit_" + std::to_string(info.param); });

TEST(CaptureStack, ThreadIdentifierIsNonZeroAndPerThread) {
  const auto here = platform::current_thread_id();
  std::uint64_t there = 0;
  std::thread([&] { there = platform::current_thread_id(); }).join();
  EXPECT_NE(here, 0u);
  EXPECT_NE(there, 0u);
  EXPECT_NE(here, there);
}

}  // namespace
}  // namespace quorvel
