// The line parser against the per-field parse, on any bytes. The first byte chooses the field
// width (10 to 16), the second the values a block (1 to 40), whether every value is wanted, and how
// many bytes a refill gives; the rest is value lines. The block loop must read them as its
// per-field path alone does (the same values bit for bit, the same defect), also into rows that keep
// every value (whole lines parsed straight into them), and every kernel this
// processor runs must give the general parse's bits for each field it decides on the first line's
// bytes.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "support/value_lines_differential.h"
#include "text/float/field_line.h"
#include "text/float_parse.h"
#include "text/tokens.h"
#include "text/utf8.h"

namespace {

[[noreturn]] void mismatch(const char* what) {
  std::fprintf(stderr, "field line mismatch: %s\n", what);
  std::abort();
}

// The lines parser takes the lines the line parser decides whole, up to the first that is not
// such a line, with its values.
void check_lines(std::string_view text, std::size_t width, quorvel::FieldLineParsers parsers) {
  const std::size_t stride = quorvel::field_line_fields * width + 1;
  const std::size_t lines = text.size() / stride;
  std::vector<float> got(lines * quorvel::field_line_fields + quorvel::field_line_room);
  const std::size_t taken = parsers.lines(text.data(), lines, got.data());
  std::size_t n = 0;
  for (; n < lines && text[n * stride + stride - 1] == '\n'; ++n) {
    float line[quorvel::field_line_room];
    if (parsers.line(text.data() + n * stride, line) != quorvel::field_line_all) break;
    for (std::size_t k = 0; k < quorvel::field_line_fields; ++k) {
      if (n < taken && std::bit_cast<std::uint32_t>(line[k]) != std::bit_cast<std::uint32_t>(got[n * quorvel::field_line_fields + k])) {
        mismatch("the lines parser's bits differ");
      }
    }
  }
  if (taken != n) mismatch("the lines parser took another number of lines");
}

void check_kernels(std::string_view text, std::size_t width) {
  if (width < 11 || width > 15 || text.size() < quorvel::field_line_fields * width) return;
  using quorvel::field_line_detail::Kernel;
  for (Kernel kernel : {Kernel::portable, Kernel::sse41, Kernel::avx2}) {
    const quorvel::FieldLineParser parse = quorvel::field_line_detail::parsers(kernel, width).line;
    if (parse == nullptr) continue;
    float values[quorvel::field_line_room];
    const unsigned done = parse(text.data(), values);
    check_lines(text, width, quorvel::field_line_detail::parsers(kernel, width));
    for (std::size_t k = 0; k < quorvel::field_line_fields; ++k) {
      if ((done >> k & 1u) == 0) continue;
      const std::string_view field = text.substr(k * width, width);
      if (!quorvel::is_valid_utf8(field)) mismatch("decided a field that is not UTF-8");
      const auto general = quorvel::parse_float32(quorvel::trim(field));
      if (!general) mismatch("decided a field the general parse refuses");
      if (std::bit_cast<std::uint32_t>(*general) != std::bit_cast<std::uint32_t>(values[k])) mismatch("bits differ");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return -1;
  const std::size_t width = 10 + data[0] % 7;
  const std::size_t count = 1 + data[1] % 40;
  const std::uint64_t skip = data[1] / 40 % 3;            // 0: every value wanted
  const std::size_t chunk = data[1] >= 120 ? 0 : 1 + data[0] / 7 % 160;  // 0: whole refills
  const bool first_lines_unwanted = data[0] % 2 == 1;   // a block's first, third, ... lines kept not at all
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  check_kernels(text, width);
  const auto fast = quorvel::test_support::read_value_lines_of(text, width, count, skip, false, chunk, first_lines_unwanted);
  const auto general = quorvel::test_support::read_value_lines_of(text, width, count, skip, true, chunk, first_lines_unwanted);
  if (fast.defect != general.defect) mismatch("defects differ");
  if (fast.stored != general.stored) mismatch("values differ");
  if (skip == 0 && !first_lines_unwanted) {
    const auto rows = quorvel::test_support::read_value_lines_of<true>(text, width, count, 0, false, chunk);
    if (rows.defect != general.defect) mismatch("defects differ when rows keep every value");
    if (rows.stored != general.stored) mismatch("values differ when rows keep every value");
  }
  return 0;
}
