// The line parser (text/float/field_line.h), every kernel this processor runs: a field it decides
// has the bits the general parse gives; the plot files' own fields it decides; every float32 of a
// sweep printed at width 15 comes back; a random sample at width 12 agrees with the C library's
// correctly rounded strtof (where that is glibc's).

#include "text/float/field_line.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "text/float_parse.h"
#include "text/tokens.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

using field_line_detail::Kernel;

std::uint32_t bits_of(float value) { return std::bit_cast<std::uint32_t>(value); }

struct NamedKernel {
  const char* name;
  Kernel kernel;
};
constexpr NamedKernel kernels[] = {{"portable", Kernel::portable}, {"sse41", Kernel::sse41}, {"avx2", Kernel::avx2}};

// A field in the layout: lead, digit, point, Width - 7 digits, 'E', sign, two digits.
std::string layout_field(std::mt19937_64& random, std::size_t width, int exponent) {
  std::string field(1, " +-"[random() % 3]);
  field += static_cast<char>('0' + random() % 10);
  field += '.';
  for (std::size_t i = 0; i < width - 7; ++i) field += static_cast<char>('0' + random() % 10);
  field += 'E';
  field += exponent < 0 ? '-' : '+';
  const int magnitude = std::abs(exponent);
  field += static_cast<char>('0' + magnitude / 10);
  field += static_cast<char>('0' + magnitude % 10);
  return field;
}

// What the general parse gives for field k of the line, if it accepts it.
std::optional<std::uint32_t> general_bits(const std::string& line, std::size_t width, std::size_t k) {
  const std::string_view field(line.data() + k * width, width);
  if (!is_valid_utf8(field)) return std::nullopt;  // trim wants UTF-8; such a field is refused
  const auto parsed = parse_float32(trim(field));
  if (!parsed) return std::nullopt;
  return bits_of(*parsed);
}

// Runs every available kernel on `line`: each decided field must have the general parse's bits.
// Gives the fields decided by all of them.
unsigned check_line(const std::string& line, std::size_t width, int& failures) {
  unsigned all = field_line_all;
  for (const NamedKernel& k : kernels) {
    const FieldLineParser parse = field_line_detail::parsers(k.kernel, width).line;
    if (parse == nullptr) continue;
    float values[field_line_room];
    const unsigned done = parse(line.data(), values);
    all &= done;
    for (std::size_t f = 0; f < field_line_fields; ++f) {
      if ((done >> f & 1u) == 0) continue;
      const auto want = general_bits(line, width, f);
      if (!want || *want != bits_of(values[f])) {
        if (++failures <= 10) {
          ADD_FAILURE() << k.name << " width " << width << " field " << f << " of '" << line << "': got 0x" << std::hex
                        << bits_of(values[f]) << (want ? ", want 0x" : ", which the general parse refuses")
                        << (want ? *want : 0u);
        }
      }
    }
  }
  return all;
}

TEST(FieldLine, KernelsExist) {
  EXPECT_TRUE(field_line_detail::available(Kernel::portable));
  for (std::size_t width = 11; width <= 15; ++width) EXPECT_NE(field_line_parsers(width).lines, nullptr);
  EXPECT_EQ(field_line_parsers(10).line, nullptr);
  EXPECT_EQ(field_line_parsers(16).lines, nullptr);
  for (const NamedKernel& k : kernels) std::printf("field line kernel %s: %s\n", k.name, field_line_detail::available(k.kernel) ? "runs" : "not here");
}

// Random lines in the layout: every field within reach is decided, with the general parse's bits
// (a field lying near a binary32 halfway point may be left; there are few). The per-field parse
// reaches the exact powers of ten (|k| <= 22); the vector kernels every k for which all values
// of the field are normal binary32 (-37 <= k <= 37 - F), and no further.
TEST(FieldLine, DecidesTheLayoutLikeTheGeneralParse) {
  std::mt19937_64 random(2828);
  int failures = 0;
  const bool vectors = field_line_detail::available(Kernel::sse41);
  for (std::size_t width = 11; width <= 15; ++width) {
    const int fraction = static_cast<int>(width - 7);
    std::size_t in_reach = 0, decided = 0, in_vector_reach = 0, vector_decided = 0;
    for (int i = 0; i < 3000; ++i) {
      std::string line;
      std::vector<int> exponents;
      for (std::size_t f = 0; f < field_line_fields; ++f) {
        const int exponent = static_cast<int>(random() % 100) - 50;
        exponents.push_back(exponent);
        line += layout_field(random, width, exponent);
      }
      const unsigned all = check_line(line, width, failures);
      float values[field_line_room];
      const unsigned best = field_line_parsers(width).line(line.data(), values);
      for (std::size_t f = 0; f < field_line_fields; ++f) {
        const int k = exponents[f] - fraction;
        if (k >= -37 && k <= 37 - fraction) {
          ++in_vector_reach;
          vector_decided += best >> f & 1u;
        } else {
          EXPECT_EQ(best >> f & 1u, 0u) << "decided beyond reach: " << line;
        }
        if (k < -22 || k > 22) continue;
        ++in_reach;
        decided += all >> f & 1u;
      }
    }
    EXPECT_GT(decided, in_reach * 999 / 1000) << "width " << width;
    if (vectors) {
      EXPECT_GT(vector_decided, in_vector_reach * 999 / 1000) << "width " << width;
    }
    EXPECT_EQ(failures, 0);
  }
}

// Halfway points: a product that is exact decides its tie (to even) in every kernel; one by an
// inexact power that lands near one is left to the per-field parse, which decides it the same.
TEST(FieldLine, HalfwayPointsAgreeWithTheGeneralParse) {
  int failures = 0;
  const std::string ties15[] = {" 6.73604000E+08", " 1.67772170E+07", "-1.67772190E+07", " 8.38860850E+06",
                                "-3.35544330E+07", " 1.00000000E+00"};
  std::string line;
  for (std::size_t f = 0; f < field_line_fields; ++f) line += ties15[f % std::size(ties15)];
  const unsigned all = check_line(line, 15, failures);
  EXPECT_EQ(all & 1u, 1u) << "an exact product decides its tie";
  const std::string ties12[] = {" 1.67772E+07", " 6.73604E+08", "-8.38861E+06", " 1.00000E+00", " 2.50000E-01"};
  line.clear();
  for (std::size_t f = 0; f < field_line_fields; ++f) line += ties12[f % std::size(ties12)];
  check_line(line, 12, failures);
  EXPECT_EQ(failures, 0);
}

// Every byte of a line, in turn, replaced by a digit, a sign, a point, an exponent letter, a
// blank, a multi-byte character, a NUL, a line feed or a byte above ASCII: every field still
// decided has the general parse's bits, and the field so damaged is not decided unless the
// general parse takes it too.
TEST(FieldLine, DamageAnywhereIsLeftOrAgrees) {
  std::mt19937_64 random(4242);
  const std::string replacements[] = {"7", "+", "-", ".", "E", "e", "D", " ", std::string(1, '\0'), "\n", "\xC3\xA9", "\x80", "\t", "x"};
  int failures = 0;
  for (std::size_t width = 11; width <= 15; ++width) {
    std::string line;
    for (std::size_t f = 0; f < field_line_fields; ++f) line += layout_field(random, width, static_cast<int>(random() % 30) - 15);
    for (std::size_t at = 0; at < line.size(); ++at) {
      for (const std::string& replacement : replacements) {
        std::string damaged = line;
        damaged.replace(at, 1, replacement);
        damaged.resize(line.size());  // a two-byte character pushes the last byte out
        check_line(damaged, width, failures);
      }
    }
  }
}

// What the lines parser must give for `text`: the lines before the first one whose line feed is
// elsewhere or that the line parser does not decide whole, with the line parser's values.
std::size_t lines_the_line_parser_takes(FieldLineParser parse, const std::string& text, std::size_t width,
                                        std::vector<float>& values) {
  const std::size_t stride = field_line_fields * width + 1;
  std::size_t n = 0;
  for (; (n + 1) * stride <= text.size() && text[n * stride + stride - 1] == '\n'; ++n) {
    float line[field_line_room];
    if (parse(text.data() + n * stride, line) != field_line_all) break;
    values.insert(values.end(), line, line + field_line_fields);
  }
  return n;
}

// Runs of lines, one of them damaged at a byte (or its line feed moved): every kernel's lines
// parser stops where its line parser would, with the same values bit for bit.
TEST(FieldLine, LinesStopWhereTheLineParserWould) {
  std::mt19937_64 random(1010);
  const char damages[] = {'x', '\n', ' ', '\0', '.', '9', '\x80'};
  for (std::size_t width = 11; width <= 15; ++width) {
    for (int round = 0; round < 200; ++round) {
      const std::size_t lines = 1 + random() % 7;
      std::string text;
      for (std::size_t i = 0; i < lines; ++i) {
        for (std::size_t f = 0; f < field_line_fields; ++f) text += layout_field(random, width, static_cast<int>(random() % 70) - 35);
        text += '\n';
      }
      if (round % 4 == 1) {
        text[(random() % lines + 1) * (field_line_fields * width + 1) - 1] = ' ';  // a line feed moved on
      } else if (round % 4 != 0) {
        text[random() % text.size()] = damages[random() % std::size(damages)];
      }
      for (const NamedKernel& k : kernels) {
        const FieldLineParsers parsers = field_line_detail::parsers(k.kernel, width);
        if (parsers.lines == nullptr) continue;
        std::vector<float> want;
        const std::size_t want_lines = lines_the_line_parser_takes(parsers.line, text, width, want);
        std::vector<float> got(lines * field_line_fields + field_line_room);
        const std::size_t got_lines = parsers.lines(text.data(), lines, got.data());
        ASSERT_EQ(got_lines, want_lines) << k.name << " width " << width << ": '" << text << "'";
        for (std::size_t v = 0; v < want.size(); ++v) {
          ASSERT_EQ(bits_of(got[v]), bits_of(want[v])) << k.name << " width " << width << " value " << v;
        }
      }
    }
  }
}

// Width 15 names every float32 (nine digits): a sweep over all exponents, printed as plot files
// print it, comes back to its bits, decided by the kernels or by the general parse.
TEST(FieldLine, Width15GivesEveryFloatBack) {
  int failures = 0;
  std::string line;
  std::vector<std::uint32_t> want;
  std::size_t decided = 0, total = 0;
  const auto flush = [&] {
    for (const NamedKernel& k : kernels) {
      const FieldLineParser parse = field_line_detail::parsers(k.kernel, 15).line;
      if (parse == nullptr) continue;
      float values[field_line_room];
      const unsigned done = parse(line.data(), values);
      for (std::size_t f = 0; f < field_line_fields; ++f) {
        std::uint32_t got;
        if (done >> f & 1u) {
          got = bits_of(values[f]);
          decided += k.kernel == Kernel::portable;
        } else {
          got = general_bits(line, 15, f).value_or(0xFFFF'FFFF);
        }
        total += k.kernel == Kernel::portable;
        if (got != want[f] && ++failures <= 10) {
          ADD_FAILURE() << k.name << " '" << std::string_view(line).substr(f * 15, 15) << "': got 0x" << std::hex << got
                        << ", want 0x" << want[f];
        }
      }
    }
    line.clear();
    want.clear();
  };
  // Every 2039th float32 from the smallest subnormal to the largest finite, both signs alternately.
  char text[32];
  for (std::uint64_t bits = 1; bits < 0x7F80'0000; bits += 2039) {
    const std::uint32_t value_bits = static_cast<std::uint32_t>(bits) | (bits % 2 == 0 ? 0x8000'0000u : 0u);
    std::snprintf(text, sizeof text, "%15.8E", static_cast<double>(std::bit_cast<float>(value_bits)));
    line += text;
    want.push_back(value_bits);
    if (want.size() == field_line_fields) flush();
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(decided, total / 3);  // the exact powers reach a third of the exponents
}

// Width 12 (six digits): random texts over the float32 range, each compared with the general
// parse and with the C library's strtof, correctly rounded in glibc (elsewhere the general parse
// alone).
TEST(FieldLine, Width12AgreesWithTheCorrectlyRoundedParse) {
  std::mt19937_64 random(1212);
  int failures = 0;
  std::size_t decided = 0;
  for (int i = 0; i < 40'000; ++i) {
    std::string line;
    for (std::size_t f = 0; f < field_line_fields; ++f) {
      line += layout_field(random, 12, static_cast<int>(random() % 86) - 46);  // 1e-46 .. 9.99999e39
    }
    const unsigned all = check_line(line, 12, failures);
#if defined(__GLIBC__)
    for (std::size_t f = 0; f < field_line_fields; ++f) {
      const std::string field = line.substr(f * 12, 12);
      const std::uint32_t want = bits_of(std::strtof(field.c_str(), nullptr));
      const auto general = general_bits(line, 12, f);
      if ((!general || *general != want) && ++failures <= 10) ADD_FAILURE() << "general parse of '" << field << "' differs from strtof";
      float values[field_line_room];
      const FieldLineParser parse = field_line_parsers(12).line;
      if ((parse(line.data(), values) >> f & 1u) && bits_of(values[f]) != want && ++failures <= 10) {
        ADD_FAILURE() << "line parse of '" << field << "' differs from strtof";
      }
    }
#endif
    decided += static_cast<std::size_t>(std::popcount(all));
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(decided, 40'000u * 10 / 3);
}

}  // namespace
}  // namespace quorvel
