// ParallelParts: the outcome is the one a reader going through the parts in order meets, a stop
// (the caller's, or a part's failure for the parts after it) reaches the parts still running, and
// the caller's check is asked on the caller's thread only.

#include "reader/scan/parallel_parts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "failure/caller_error.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

struct Caller {
  std::thread::id thread = std::this_thread::get_id();
  std::atomic<bool> stop{false};
  std::atomic<bool> asked_elsewhere{false};

  static bool ask(void* context) {
    auto& caller = *static_cast<Caller*>(context);
    if (std::this_thread::get_id() != caller.thread) caller.asked_elsewhere = true;
    return caller.stop;
  }
  platform::InterruptCheck check() { return {.stop = &ask, .context = this}; }
};

// Whether `check` says stop within ten seconds.
bool stopped_soon(platform::InterruptCheck check) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!check.stop_requested()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct PartFailure {
  std::size_t k;
};

struct FailureCase {
  const char* name;
  std::size_t parts;
  std::set<std::size_t> failing;
};

class ParallelPartsFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(ParallelPartsFailures, TheFirstInPartOrderWinsAndStopsTheLaterParts) {
  const auto& [name, count, failing] = GetParam();
  const std::size_t first = failing.empty() ? count : *failing.begin();
  Caller caller;
  ParallelParts parts(count, caller.check());
  std::vector<std::atomic<bool>> told_to_stop(count);
  auto run = [&] {
    parts.run([&](std::size_t k) {
      if (k == first) {
        std::this_thread::sleep_for(20ms);  // the later failures come first in time
        throw PartFailure{k};
      }
      if (failing.contains(k)) throw PartFailure{k};
      if (k > first) told_to_stop[k] = stopped_soon(parts.check_for(k));
      if (k < first) told_to_stop[k] = parts.check_for(k).stop_requested();
    });
  };
  if (failing.empty()) {
    EXPECT_NO_THROW(run());
  } else {
    try {
      run();
      ADD_FAILURE() << "no failure";
    } catch (const PartFailure& failure) {
      EXPECT_EQ(failure.k, first);
    }
  }
  for (std::size_t k = 0; k < count; ++k) {
    if (!failing.contains(k)) {
      EXPECT_EQ(told_to_stop[k].load(), k > first) << "part " << k;
    }
  }
  EXPECT_FALSE(caller.asked_elsewhere);
}

INSTANTIATE_TEST_SUITE_P(Table, ParallelPartsFailures,
                         testing::Values(FailureCase{"NoneFails", 3, {}}, FailureCase{"TheCallersPart", 3, {0}},
                                         FailureCase{"AMiddlePart", 4, {1}}, FailureCase{"TheLastAfterAnother", 4, {3, 1}},
                                         FailureCase{"ThreeOfSix", 6, {5, 4, 2}}, FailureCase{"TheOnlyPart", 1, {0}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The caller asks to stop while part `stopper` runs; part 0 returns at once or waits like the rest.
struct StopCase {
  const char* name;
  std::size_t parts;
  std::size_t stopper;
  bool first_waits;
};

class ParallelPartsStop : public testing::TestWithParam<StopCase> {};

TEST_P(ParallelPartsStop, EndsEveryPartWithCallerError) {
  const auto [name, count, stopper, first_waits] = GetParam();
  Caller caller;
  ParallelParts parts(count, caller.check());
  std::vector<std::atomic<bool>> told_to_stop(count);
  EXPECT_THROW(parts.run([&](std::size_t k) {
    if (k == stopper) caller.stop = true;
    if (k == 0 && !first_waits) {
      told_to_stop[k] = true;
      return;
    }
    told_to_stop[k] = stopped_soon(parts.check_for(k));
  }),
               CallerError);
  for (std::size_t k = 0; k < count; ++k) EXPECT_TRUE(told_to_stop[k]) << "part " << k;
  EXPECT_FALSE(caller.asked_elsewhere);
}

INSTANTIATE_TEST_SUITE_P(Table, ParallelPartsStop,
                         testing::Values(StopCase{"AfterTheCallersPartReturned", 3, 2, false},
                                         StopCase{"WhileAllRun", 3, 1, true}, StopCase{"FromTheCallersPart", 4, 0, true},
                                         StopCase{"OnePart", 1, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct PartsCase {
  const char* name;
  std::uint64_t bytes;
  std::uint64_t least_part_bytes;
  std::size_t threads;
  std::size_t parts;
};

class PartsFor : public testing::TestWithParam<PartsCase> {};

TEST_P(PartsFor, BoundedByThreadsPartSizeAndTheCap) {
  const PartsCase& c = GetParam();
  EXPECT_EQ(parts_for(c.bytes, c.least_part_bytes, c.threads), c.parts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PartsFor,
    testing::Values(PartsCase{"AsManyAsThreads", 1 << 20, 4096, 4, 4}, PartsCase{"FewerForASmallFile", 3 * 4096 + 1, 4096, 8, 3},
                    PartsCase{"OneBelowOnePart", 4095, 4096, 8, 1}, PartsCase{"OneForOneThread", 1 << 30, 4096, 1, 1},
                    PartsCase{"NoThreadsIsOne", 1 << 30, 4096, 0, 1}, PartsCase{"EmptyIsOne", 0, 4096, 8, 1},
                    PartsCase{"NoLeastSize", 100, 0, 8, 8}, PartsCase{"CappedForAMillionThreads", 121'000'000, 4096, 1'000'000, most_parts},
                    PartsCase{"CappedForTheLargestCount", UINT64_MAX, 1, SIZE_MAX, most_parts},
                    PartsCase{"AtTheCap", most_parts * 4096, 4096, most_parts, most_parts}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
