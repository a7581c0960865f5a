#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "failure/failure.h"
#include "failure/thread_failures.h"

namespace quorvel {
namespace {

TEST(FailureCount, LivesAsLongAsTheFailureObject) {
  ASSERT_EQ(failures_in_progress(), 0u);
  {
    Failure first("one");
    EXPECT_EQ(failures_in_progress(), 1u);
    Failure moved(std::move(first));
    EXPECT_EQ(failures_in_progress(), 1u);
    {
      const Failure copy(moved);
      EXPECT_EQ(failures_in_progress(), 2u);
      EXPECT_EQ(copy.message(), "one");
    }
    EXPECT_EQ(failures_in_progress(), 1u);
  }
  EXPECT_EQ(failures_in_progress(), 0u);
}

TEST(FailureCount, InProgressWhileUnwindingAndDoneAfterTheHandler) {
  std::size_t while_unwinding = 0;
  std::size_t in_handler = 0;
  struct Probe {
    std::size_t& seen;
    ~Probe() { seen = failures_in_progress(); }
  };
  try {
    const Probe probe{while_unwinding};
    fail("boom");
  } catch (const Failure& failure) {
    in_handler = failures_in_progress();
    EXPECT_EQ(failure.message(), "boom");
  }
  EXPECT_EQ(while_unwinding, 1u);
  EXPECT_EQ(in_handler, 1u);
  EXPECT_EQ(failures_in_progress(), 0u);
}

TEST(FailureCount, IsPerThread) {
  const Failure here("here");
  std::size_t there = 99;
  std::thread([&] { there = failures_in_progress(); }).join();
  EXPECT_EQ(there, 0u);
  EXPECT_EQ(failures_in_progress(), 1u);
}

TEST(FailureCount, NeverGoesBelowZero) {
  uncount_failure();
  EXPECT_EQ(failures_in_progress(), 0u);
}

}  // namespace
}  // namespace quorvel
