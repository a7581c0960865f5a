// Rows that grow past every capacity keep their values, whether the system moves the pages
// (resize) or the bytes are copied.

#include "reader/targets/row_store.h"

#include <gtest/gtest.h>

#include <cstddef>


namespace quorvel {
namespace {

TEST(RowStore, RowsKeepTheirValuesThroughEveryGrowth) {
  constexpr std::size_t length = 3000;  // rows of 12,000 bytes: growths cross pages and large pages
  RowStore store(length, 1);
  for (std::size_t row = 0; row < 700; ++row) {
    float* values = store.append_row();
    for (std::size_t j = 0; j < length; ++j) values[j] = static_cast<float>(row * length + j);
  }
  store.claim_rows(301);  // past the capacity the doublings reached
  ASSERT_EQ(store.rows(), 1001u);
  for (std::size_t row = 0; row < 700; ++row) {
    for (std::size_t j = 0; j < length; j += 997) {
      ASSERT_EQ(store.data()[row * length + j], static_cast<float>(row * length + j)) << row << ", " << j;
    }
  }
  store.data()[1001 * length - 1] = 1.0f;  // the claimed rows are there to write
}

}  // namespace
}  // namespace quorvel
