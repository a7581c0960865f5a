// Column storage: bulk memory from the system, bump allocation out of it, and columns that grow
// side by side in one arena without disturbing each other.

#include "reader/targets/column.h"
#include "reader/targets/column_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace quorvel {
namespace {

TEST(BulkMemory, ZeroFilledWritableAndMovedWhole) {
  const std::size_t size = std::size_t{3} << 20;
  auto memory = platform::BulkMemory::allocate(size);
  ASSERT_TRUE(memory);
  ASSERT_EQ(memory->size(), size);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory->data()) % 4096, 0u);
  EXPECT_EQ(memory->data()[0], std::byte{0});
  EXPECT_EQ(memory->data()[size - 1], std::byte{0});
  memory->data()[size - 1] = std::byte{7};
  std::byte* const mapping = memory->data();
  platform::BulkMemory moved = std::move(*memory);
  EXPECT_EQ(memory->data(), nullptr);
  EXPECT_EQ(memory->size(), 0u);
  EXPECT_EQ(moved.data(), mapping);  // the same mapping, not a copy
  EXPECT_EQ(moved.size(), size);
  EXPECT_EQ(moved.data()[size - 1], std::byte{7});
}

TEST(BulkMemory, NothingForNothingOrTooMuch) {
  EXPECT_FALSE(platform::BulkMemory::allocate(0));
  EXPECT_FALSE(platform::BulkMemory::allocate(std::numeric_limits<std::size_t>::max() / 2));
}

TEST(ColumnArena, AlignedDisjointPiecesThatKeepTheirBytes) {
  ColumnArena arena;
  std::vector<std::pair<unsigned char*, std::size_t>> taken;
  for (std::size_t i = 0; i < 3000; ++i) {
    const std::size_t bytes = 1 + (i * 7919) % 5000;
    auto* p = static_cast<unsigned char*>(arena.allocate(bytes));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    for (std::size_t b = 0; b < bytes; ++b) p[b] = static_cast<unsigned char>(i);
    taken.emplace_back(p, bytes);
  }
  // Any overlap would have overwritten an earlier piece's bytes.
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const auto [p, bytes] = taken[i];
    ASSERT_EQ(p[0], static_cast<unsigned char>(i));
    ASSERT_EQ(p[bytes - 1], static_cast<unsigned char>(i));
  }
}

TEST(ColumnArena, HoldsAtMostTwiceWhatWasTaken) {
  ColumnArena arena;
  EXPECT_EQ(arena.reserved(), 0u);  // nothing is reserved before the first column grows
  std::size_t total = 0;
  for (int i = 0; i < 200; ++i) {
    arena.allocate(std::size_t{1} << 19);
    total += std::size_t{1} << 19;
    ASSERT_LE(arena.reserved(), 2 * total + (std::size_t{256} << 10)) << i;
  }
}

TEST(ColumnArena, RefusesWhatCannotBeHad) {
  ColumnArena arena;
  EXPECT_THROW(arena.allocate(std::numeric_limits<std::size_t>::max() - 3), std::bad_alloc);
  EXPECT_THROW(arena.allocate(std::numeric_limits<std::size_t>::max() / 2), std::bad_alloc);
  EXPECT_NE(arena.allocate(16), nullptr);  // still usable afterwards
}

std::vector<float> values_of(const Column& column) {
  std::vector<float> values;
  column.for_each_chunk([&](std::span<const float> chunk) { values.insert(values.end(), chunk.begin(), chunk.end()); });
  return values;
}

TEST(Column, ColumnsGrowSideBySideInOneArena) {
  ColumnArena arena;
  std::vector<Column> columns;
  for (int c = 0; c < 3; ++c) columns.emplace_back(arena);
  EXPECT_TRUE(columns[0].empty());
  EXPECT_EQ(arena.reserved(), 0u);  // nothing is taken before the first value
  for (int i = 0; i < 50'000; ++i) {
    for (int c = 0; c < 3; ++c) columns[c].push_back(static_cast<float>(i * 3 + c));
    if (i == 3 || i == 4 || i == 4091 || i == 4092 || i == 6139 || i == 6140) {
      ASSERT_EQ(columns[2].size(), static_cast<std::size_t>(i + 1));  // at and past chunk ends
    }
  }
  for (int c = 0; c < 3; ++c) {
    const std::vector<float> values = values_of(columns[c]);
    ASSERT_EQ(columns[c].size(), 50'000u);
    ASSERT_EQ(values.size(), 50'000u);
    for (int i = 0; i < 50'000; ++i) ASSERT_EQ(values[i], static_cast<float>(i * 3 + c)) << c << ' ' << i;
  }
  // Chunks double up to a cap, so the columns hold little beyond their values.
  EXPECT_LE(arena.reserved(), 2 * 3 * 50'000 * sizeof(float) + (std::size_t{256} << 10));
}

TEST(Column, MovedColumnKeepsItsValuesAndTheSourceStartsOver) {
  ColumnArena arena;
  Column source(arena);
  for (int i = 0; i < 100; ++i) source.push_back(static_cast<float>(i));
  Column moved(std::move(source));
  EXPECT_EQ(moved.size(), 100u);
  EXPECT_EQ(source.size(), 0u);
  source.push_back(-1.0f);  // new storage, not the moved column's
  EXPECT_EQ(values_of(source), std::vector<float>{-1.0f});
  const std::vector<float> values = values_of(moved);
  ASSERT_EQ(values.size(), 100u);
  EXPECT_EQ(values[16], 16.0f);
  EXPECT_EQ(values[99], 99.0f);
}

}  // namespace
}  // namespace quorvel
