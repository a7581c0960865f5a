// The short path for fixed-width fields: whenever it decides, it must give exactly what the
// general trim and parse give; on the plot files' own layout it must decide; on anything else it
// may decline but never accept a field the general parse would reject.

#include "text/float/padded_field.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>

#include "text/float_parse.h"
#include "text/tokens.h"

#include "support/case_name.h"

namespace quorvel {
namespace {

std::uint32_t bits_of(float value) { return std::bit_cast<std::uint32_t>(value); }

// The single-lead layout for a width chosen at run time (0 fields of other widths).
bool single_lead(const std::string& field, float& value) {
  switch (field.size()) {
    case 11: return parse_single_lead_field<11>(field.data(), value);
    case 12: return parse_single_lead_field<12>(field.data(), value);
    case 13: return parse_single_lead_field<13>(field.data(), value);
    case 14: return parse_single_lead_field<14>(field.data(), value);
    case 15: return parse_single_lead_field<15>(field.data(), value);
    default: return false;
  }
}

struct FieldCase {
  std::string field;
  float value;
};

void PrintTo(const FieldCase& c, std::ostream* out) { *out << '\'' << c.field << '\''; }

class PaddedFieldDecides : public testing::TestWithParam<FieldCase> {};

TEST_P(PaddedFieldDecides, GivesTheValue) {
  float value = 0;
  ASSERT_TRUE(parse_padded_field(GetParam().field.data(), GetParam().field.size(), value));
  EXPECT_EQ(bits_of(value), bits_of(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PaddedFieldDecides, testing::Values(
    FieldCase{" 1.23456E+03", 1234.56f},
    FieldCase{"-1.23456E-02", -0.0123456f},
    FieldCase{"+9.99999e+12", 9.99999e12f},
    FieldCase{"-0.00000E+00", -0.0f},
    FieldCase{" 0.00000E+00", 0.0f},
    FieldCase{" 1.23456789E+03", 1234.56789f},
    FieldCase{"-9.87654321E-12", -9.87654321e-12f},
    FieldCase{"1.2345E+00", 1.2345f},                  // width 10: four fraction digits
    FieldCase{"       -4.5000E+01", -45.0f},           // seven blanks and a sign
    FieldCase{"        4.5000E+01", 45.0f},            // eight blanks
    FieldCase{" 9.99999E+27", 9.99999e27f},            // the exact powers' ends: 10^22 ...
    FieldCase{" 1.00000E-17", 1e-17f}),                // ... and 10^-22
    test_support::named_by(&FieldCase::field));

// One lead character, each width from four to eight fraction digits.
class SingleLeadDecides : public testing::TestWithParam<FieldCase> {};

TEST_P(SingleLeadDecides, GivesTheValue) {
  float value = 0;
  ASSERT_TRUE(single_lead(GetParam().field, value));
  EXPECT_EQ(bits_of(value), bits_of(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(Layouts, SingleLeadDecides, testing::Values(
    FieldCase{" 1.2345E+03", 1234.5f},
    FieldCase{"-1.23456E-02", -0.0123456f},
    FieldCase{"+9.99999e+12", 9.99999e12f},
    FieldCase{"-0.00000E+00", -0.0f},
    FieldCase{" 6.73604E+08", 673604000.0f},          // an exact tie, to even
    FieldCase{"-1.234567E-05", -1.234567e-5f},
    FieldCase{" 4.0000000e+00", 4.0f},
    FieldCase{" 1.23456789E+03", 1234.56789f},
    FieldCase{"-9.87654321E-12", -9.87654321e-12f},
    FieldCase{" 9.99999E+27", 9.99999e27f},
    FieldCase{" 1.00000E-17", 1e-17f}),
    test_support::named_by(&FieldCase::field));

// Layouts the general short path takes but the single-lead one must not, and damaged leads.
class SingleLeadDeclines : public testing::TestWithParam<std::string> {};

TEST_P(SingleLeadDeclines, LeavesItToTheOtherPaths) {
  float value = 0;
  EXPECT_FALSE(single_lead(GetParam(), value));
}

INSTANTIATE_TEST_SUITE_P(Layouts, SingleLeadDeclines, testing::Values(
    std::string("  1.2345E+03"),     // two blanks
    std::string(" -1.2345E+03"),     // a blank and a sign
    std::string("1.23456E+03 "),     // no lead, trailing blank
    std::string("	1.23456E+03"),
    std::string("" "1.23456E+03"),
    std::string("!1.23456E+03"),     // next to the blank
    std::string(",1.23456E+03"),     // between '+' and '-'
    std::string("*1.23456E+03"),
    std::string("=1.23456E+03"),     // '-' + 16: the lead bits wrap
    std::string("@1.23456E+03"),
    std::string("" "1.23456E+03"),
    std::string("--1.2345E+03"),
    std::string(" 1.23456E+3 "),
    std::string(" 1.2345xE+03"),
    std::string(" 1.23456D+03"),
    std::string(" 1.00000E-18"),     // beyond the exact powers of ten
    std::string(" 1,23456789E+03")),
    test_support::named_by_text);

// Fields the short path must leave alone: other layouts, and values out of its exact reach.
class PaddedFieldDeclines : public testing::TestWithParam<std::string> {};

TEST_P(PaddedFieldDeclines, LeavesItToTheGeneralParse) {
  float value = 0;
  EXPECT_FALSE(parse_padded_field(GetParam().data(), GetParam().size(), value));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PaddedFieldDeclines, testing::Values(
    std::string(" 1.23456E+3 "),      // trailing blank
    std::string("  1.23456D+03"),     // another exponent letter
    std::string(" 1,23456E+03"),      // comma
    std::string(" 1.2345xE+03"),
    std::string(" 1.23456E*03"),
    std::string(" 1.23456E+0x"),
    std::string("  12.3456E+03"),     // two integer digits
    std::string("  1.23456E+103"),    // three exponent digits
    std::string("\t1.23456E+03"),
    std::string("         1.5E+00"),  // nine blanks: not counted by the short path
    std::string("  1.234E+003"),      // three fraction digits
    std::string("1.234567890E+00"),   // nine fraction digits
    std::string("       1.5E+00"),    // one fraction digit
    std::string("  1.00000E-18"),     // beyond the exact powers of ten
    std::string("  1.00000E+28"),
    std::string(" 3.40282E+38"),
    std::string("--1.23456E+03"),
    std::string("  inf       "),
    std::string("            ")),
    test_support::named_by_text);

// Bytes a damaged or unusual field may hold, each placed at random into a well-formed field.
constexpr char noise[] = "0123456789 +-.eEdD\t,x\x7F\x80\xC3\xFF/:";

// A field in the layout ("  -1.2345E+07"), built digit by digit so that it is the same on every
// platform, then damaged at up to two random places or given a trailing blank.
std::string random_field(std::mt19937_64& random, std::size_t& width) {
  const int fraction_digits = 3 + static_cast<int>(random() % 7);  // 3..9, the path takes 4..8
  std::string field(random() % 4 == 0 ? 1 : random() % 10, ' ');
  field += "\0-+"[random() % 3];
  if (field.back() == '\0') field.pop_back();
  field += static_cast<char>('0' + random() % 10);
  field += '.';
  for (int i = 0; i < fraction_digits; ++i) field += static_cast<char>('0' + random() % 10);
  field += random() % 2 ? 'E' : 'e';
  field += random() % 2 ? '+' : '-';
  const int exponent = static_cast<int>(random() % 31);
  field += static_cast<char>('0' + exponent / 10);
  field += static_cast<char>('0' + exponent % 10);
  for (int damage = static_cast<int>(random() % 4) - 1; damage > 0; --damage) {
    field[random() % field.size()] = noise[random() % (sizeof noise - 1)];
  }
  if (random() % 8 == 0) field += ' ';
  width = field.size();
  return field;
}

TEST(PaddedField, AgreesWithTheGeneralParseOnRandomFields) {
  std::mt19937_64 random(5150);
  int decided = 0;
  int decided_single_lead = 0;
  int failures = 0;
  for (int i = 0; i < 400'000 && failures < 10; ++i) {
    std::size_t width = 0;
    const std::string field = random_field(random, width);
    if (width < 10) continue;
    // Only a field that a short path took, and so is ASCII, goes to the general parse: trim
    // expects well-formed UTF-8, which the line reader guarantees and the damage here does not.
    const auto agrees = [&](const char* path, float value) {
      const auto general = parse_float32(trim(field));
      if (!general) {
        ADD_FAILURE() << path << " accepted '" << field << "', which the general parse rejects";
        ++failures;
      } else if (bits_of(*general) != bits_of(value)) {
        ADD_FAILURE() << path << std::hex << " '" << field << "': got 0x" << bits_of(value) << ", want 0x"
                      << bits_of(*general);
        ++failures;
      }
    };
    float value = 0;
    if (parse_padded_field(field.data(), width, value)) {
      ++decided;
      agrees("padded", value);
    }
    if (single_lead(field, value)) {
      ++decided_single_lead;
      agrees("single-lead", value);
    }
  }
  // Undamaged fields of four to eight fraction digits and up to eight blanks, within reach of
  // the exact powers of ten, come to about a quarter; one lead character and 11..15 bytes, to
  // about a twentieth.
  EXPECT_GT(decided, 80'000) << decided;
  EXPECT_GT(decided_single_lead, 14'000) << decided_single_lead;
}

}  // namespace
}  // namespace quorvel
