// The 32-bit float parse: fixed cases with values worked out by hand, the rejected forms, and
// glibc strtof (correctly rounded) as the oracle for the value of a million accepted strings.

#include "text/float_parse.h"

#include "text/float/big_decimal.h"
#include "text/float/decimal_scan.h"
#include "text/float/eisel_lemire.h"
#include "text/float/fast_path.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "support/case_name.h"

namespace quorvel {
namespace {

constexpr std::uint32_t bits_of(float value) { return std::bit_cast<std::uint32_t>(value); }

constexpr std::uint32_t plus_infinity = 0x7F80'0000;
constexpr std::uint32_t minus_infinity = 0xFF80'0000;
constexpr std::uint32_t largest_finite = 0x7F7F'FFFF;

struct ValueCase {
  std::string_view text;
  std::uint32_t bits;
};

void PrintTo(const ValueCase& c, std::ostream* out) { *out << '\'' << c.text << '\''; }

class FloatParseValue : public testing::TestWithParam<ValueCase> {};

TEST_P(FloatParseValue, GivesExactBits) {
  const auto result = parse_float32(GetParam().text);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(bits_of(*result), GetParam().bits) << std::hex << "got 0x" << bits_of(*result);
}

INSTANTIATE_TEST_SUITE_P(Documented, FloatParseValue, testing::Values(
    ValueCase{"1.5E+03", bits_of(1500.0f)},
    ValueCase{"1.23456E+03", bits_of(1234.56005859375f)},
    ValueCase{"1.23456789E+03", bits_of(1234.56787109375f)},
    ValueCase{"0.1", 0x3DCC'CCCD},
    ValueCase{"5.", bits_of(5.0f)},
    ValueCase{".5", bits_of(0.5f)},
    ValueCase{"5.e3", bits_of(5000.0f)},
    ValueCase{"-.5e-1", 0xBD4C'CCCD},
    ValueCase{"1e5", bits_of(100000.0f)},
    ValueCase{"1E05", bits_of(100000.0f)},
    ValueCase{"16777217", bits_of(16777216.0f)},
    ValueCase{"16777219", bits_of(16777220.0f)},
    ValueCase{"1.000000059604644775390625", 0x3F80'0000},
    ValueCase{"1.00000005960464477539062500000000000000000001", 0x3F80'0001},
    ValueCase{"3.4028235E+38", largest_finite},
    ValueCase{"3.4028236E+38", plus_infinity},
    ValueCase{"1E+39", plus_infinity},
    ValueCase{"1E99999999999999", plus_infinity},
    ValueCase{"1E-99999999999999", 0},
    ValueCase{"1E-45", 0x0000'0001},
    ValueCase{"7E-46", 0},
    ValueCase{"1E-40", 71362},  // 1e-40 · 2^149 = 71362.38…
    ValueCase{"-0.0", 0x8000'0000},
    ValueCase{"-0", 0x8000'0000},
    ValueCase{"inf", plus_infinity},
    ValueCase{"INF", plus_infinity},
    ValueCase{"Infinity", plus_infinity},
    ValueCase{"+inf", plus_infinity},
    ValueCase{"-INFINITY", minus_infinity},
    ValueCase{"iNfInItY", plus_infinity},
    ValueCase{"NaN", 0x7FC0'0000},
    ValueCase{"nAn", 0x7FC0'0000},
    ValueCase{"+nan", 0x7FC0'0000},
    ValueCase{"-nan", 0xFFC0'0000}),
    test_support::named_by(&ValueCase::text));

// Range limits and ties, the decimals being exact expansions of the binary values named.
INSTANTIATE_TEST_SUITE_P(Boundaries, FloatParseValue, testing::Values(
    // 2^128 - 2^103, halfway between the largest finite and 2^128: even side is infinity.
    ValueCase{"340282356779733661637539395458142568448", plus_infinity},
    ValueCase{"340282356779733661637539395458142568447", largest_finite},
    ValueCase{"340282356779733661637539395458142568447.99999999999999999999999", largest_finite},
    ValueCase{"-340282356779733661637539395458142568448", minus_infinity},
    ValueCase{"340282346638528859811704183484516925440", largest_finite},
    ValueCase{"3.40282346638528859811704183484516925440e38", largest_finite},
    // 2^-150, halfway between zero and the smallest subnormal: even side is zero.
    ValueCase{"0.000000000000000000000000000000000000000000000700649232162408535461864791644958065640130970"
              "938257885878534141944895541342930300743319094181060791015625", 0},
    ValueCase{"0.000000000000000000000000000000000000000000000700649232162408535461864791644958065640130970"
              "938257885878534141944895541342930300743319094181060791015625001", 1},
    ValueCase{"7.00649232162408535461864791644958065640130970938257885878534141944895541342930300743319094181"
              "060791015625e-46", 0},
    ValueCase{"-7.006492321624085354618647916449580656401309709382578858785341419448955413429303007433190941810"
              "60791015626e-46", 0x8000'0001},
    // 2^-126, the smallest normal, and (2^23 - 1) · 2^-149, the largest subnormal.
    ValueCase{"1.1754943508222875079687365372222456778186655567720875215087517062784172594547271728515625e-38",
              0x0080'0000},
    ValueCase{"1.1754942106924410754870294448492873488270524287458933338571745305715888704756189042655023513"
              "36181163787841796875e-38", 0x007F'FFFF},
    // (2^24 - 1) · 2^-150, halfway between them: even side is the smallest normal.
    ValueCase{"1.1754942807573642917278829910357665133228589927589904276829631184250030649651730385585324256"
              "680905818939208984375e-38", 0x0080'0000},
    ValueCase{"1.1754942807573642917278829910357665133228589927589904276829631184250030649651730385585324256"
              "680905818939208984374e-38", 0x007F'FFFF},
    ValueCase{"8388609.5", bits_of(8388610.0f)},   // tie with a negative decimal exponent, odd below
    ValueCase{"8388610.5", bits_of(8388610.0f)},   // … even below
    ValueCase{"16777218.999999999999999999999", bits_of(16777218.0f)},
    ValueCase{"33554434", bits_of(33554432.0f)},   // tie at 2^25, even below
    ValueCase{"33554438", bits_of(33554440.0f)},   // tie, even above
    ValueCase{"1234567e11", bits_of(123456700000000000.0f)},  // 10^11..10^17 folded into the integer
    ValueCase{"1677721e11", bits_of(167772100000000000.0f)},
    ValueCase{"1e17", bits_of(1e17f)},
    ValueCase{"17e16", bits_of(17e16f)},
    ValueCase{"16777216e17", bits_of(1677721600000000000000000.0f)},
    ValueCase{"9999999e-10", bits_of(9999999e-10f)},
    ValueCase{"16777216e-10", bits_of(16777216e-10f)},
    ValueCase{"16777217e-10", bits_of(16777217e-10f)},
    ValueCase{"0000000000000000000000000000001.5", bits_of(1.5f)},
    ValueCase{"0.0000000000000000000000000000015", bits_of(1.5e-30f)},
    ValueCase{"000000000000000000000000000000000000000000", 0},
    ValueCase{"-.000000000000000000000000000000000000000000e999999", 0x8000'0000},
    ValueCase{"1e-00000000000000000000000000000000000000000000000000000001", bits_of(0.1f)},
    ValueCase{"12345678901234567890123456789e-28", bits_of(1.2345678901234567890123456789f)},
    ValueCase{"123456789012345678", bits_of(123456789012345678.0f)}),
    test_support::named_by(&ValueCase::text));

// Decimals of 16 digits whose binary64 rounding is exactly halfway between two binary32 values
// while the decimal itself is not: narrowing that binary64 would round the wrong way, so the fast
// path must decline them and a slower tier must give the bits of the decimal itself.
INSTANTIATE_TEST_SUITE_P(DoubleRoundingTraps, FloatParseValue, testing::Values(
    ValueCase{"6.669611805517126e+19", 0x6067'660D},
    ValueCase{"4.477636367082596e-01", 0x3EE5'4147},
    ValueCase{"2.709594257437491e+16", 0x5AC0'873B},
    ValueCase{"1.203524504944653e-06", 0x35A1'88C9},
    ValueCase{"3.517037893641540e+25", 0x69E8'BCF1},
    ValueCase{"-2.420918986892265e+25", 0xE9A0'33F7},
    ValueCase{"7.384356483817101e-02", 0x3D97'3B4C}),
    test_support::named_by(&ValueCase::text));

TEST(FloatParseFastPath, DeclinesWhatNarrowingWouldRoundTwice) {
  float value = 0;
  EXPECT_FALSE(float_parse::exact_fast_path(6'669'611'805'517'126, 4, value));
  EXPECT_FALSE(float_parse::exact_fast_path(4'477'636'367'082'596, -16, value));
  EXPECT_FALSE(float_parse::exact_fast_path(2'420'918'986'892'265, 10, value));
  // Exact products on a halfway point are true ties and are decided, to even; quotients on one
  // are not told apart from rounded ones and are declined, exact or not.
  ASSERT_TRUE(float_parse::exact_fast_path(673'604, 3, value));
  EXPECT_EQ(bits_of(value), bits_of(673604000.0f));
  ASSERT_TRUE(float_parse::exact_fast_path(16'777'217, 0, value));
  EXPECT_EQ(bits_of(value), bits_of(16777216.0f));
  ASSERT_TRUE(float_parse::exact_fast_path(16'777'219, 0, value));
  EXPECT_EQ(bits_of(value), bits_of(16777220.0f));
  EXPECT_FALSE(float_parse::exact_fast_path(83'886'085, -1, value));  // exactly 8388608.5
  // At the ends of its reach it still decides, exactly.
  ASSERT_TRUE(float_parse::exact_fast_path((std::uint64_t{1} << 53) - 1, 22, value));
  EXPECT_EQ(bits_of(value), bits_of(9007199254740991e22f));
  ASSERT_TRUE(float_parse::exact_fast_path(1, -22, value));
  EXPECT_EQ(bits_of(value), bits_of(1e-22f));
  EXPECT_FALSE(float_parse::exact_fast_path(std::uint64_t{1} << 53, 0, value));
  EXPECT_FALSE(float_parse::exact_fast_path(1, 23, value));
  EXPECT_FALSE(float_parse::exact_fast_path(1, -23, value));
}

// Texts of hundreds of thousands of digits whose written exponent undoes their length: each is
// rounded from its exact value, through the whole parse and through the big decimal alone.
struct LongTextCase {
  const char* name;
  std::string text;
  std::uint32_t bits;
};

void PrintTo(const LongTextCase& c, std::ostream* out) { *out << c.name; }

class FloatParseLongText : public testing::TestWithParam<LongTextCase> {};

TEST_P(FloatParseLongText, IsRoundedFromItsExactValue) {
  const auto result = parse_float32(GetParam().text);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(bits_of(*result), GetParam().bits) << std::hex << "got 0x" << bits_of(*result);
  EXPECT_EQ(float_parse::BigDecimal(GetParam().text).to_binary32_bits(), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(Exponents, FloatParseLongText, testing::Values(
    LongTextCase{"IntegerDigitsUndone", "1" + std::string(655360, '0') + "e-655360", 0x3F80'0000},
    LongTextCase{"FractionZerosUndone", "0." + std::string(699999, '0') + "1e700000", 0x3F80'0000},
    LongTextCase{"JustAboveHalfwayFarOut", "0." + std::string(699999, '0') + "100000005960464477539062501e700000",
                 0x3F80'0001},
    LongTextCase{"ExactHalfwayFarOut", "0." + std::string(699999, '0') + "10000000596046447753906250e700000",
                 0x3F80'0000},
    LongTextCase{"SeventyThousandDigitsUp", "1" + std::string(69999, '0') + "e700001", plus_infinity},
    LongTextCase{"SeventyThousandDigitsDown", "1" + std::string(69999, '0') + "e-700001", 0},
    LongTextCase{"FractionZerosOvershot", "0." + std::string(100000, '0') + "1e1000000", plus_infinity},
    LongTextCase{"ExponentPastSaturation", "1e" + std::string(40, '9'), plus_infinity},
    LongTextCase{"NegativeExponentPastSaturation", "1e-" + std::string(40, '9'), 0},
    LongTextCase{"ZerosWithHugeExponent", "0." + std::string(1000, '0') + "e" + std::string(30, '9'), 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct RejectCase {
  std::string_view text;
  ParseFloatError::Kind kind;
};

void PrintTo(const RejectCase& c, std::ostream* out) { *out << '\'' << c.text << '\''; }

class FloatParseRejected : public testing::TestWithParam<RejectCase> {};

TEST_P(FloatParseRejected, GivesErrorKind) {
  const auto result = parse_float32(GetParam().text);
  ASSERT_FALSE(result.has_value()) << "parsed as " << *result;
  EXPECT_EQ(result.error().kind, GetParam().kind);
}

constexpr auto invalid = ParseFloatError::Kind::Invalid;

INSTANTIATE_TEST_SUITE_P(Forms, FloatParseRejected, testing::Values(
    RejectCase{"", ParseFloatError::Kind::Empty},
    RejectCase{"+", invalid}, RejectCase{"-", invalid}, RejectCase{".", invalid},
    RejectCase{"-.", invalid}, RejectCase{".e1", invalid}, RejectCase{"e5", invalid},
    RejectCase{"1.0-100", invalid}, RejectCase{"1.0D+05", invalid}, RejectCase{"1e", invalid},
    RejectCase{"1e+", invalid}, RejectCase{"1E-", invalid}, RejectCase{"1e+-5", invalid},
    RejectCase{"0x10", invalid}, RejectCase{"0x1p3", invalid}, RejectCase{"1_000", invalid},
    RejectCase{"1,5", invalid}, RejectCase{" 1.0", invalid}, RejectCase{"1.0 ", invalid},
    RejectCase{"1.5 E3", invalid}, RejectCase{"+-1", invalid}, RejectCase{"--1", invalid},
    RejectCase{"1.2.3", invalid}, RejectCase{"1e5.0", invalid}, RejectCase{"1e5e5", invalid},
    RejectCase{"infin", invalid}, RejectCase{"in", invalid}, RejectCase{"infinit", invalid},
    RejectCase{"infinityy", invalid}, RejectCase{"nan(1)", invalid}, RejectCase{"na", invalid},
    RejectCase{"inf ", invalid}, RejectCase{"+-inf", invalid}, RejectCase{"1inf", invalid},
    RejectCase{"\xC2\xA0" "1", invalid}, RejectCase{"１", invalid}, RejectCase{"12345678x", invalid},
    RejectCase{"1234567/", invalid}, RejectCase{"1234567:9", invalid},
    RejectCase{"123456789012345678901234567890x", invalid},
    RejectCase{std::string_view("1\0", 2), invalid}, RejectCase{"\x01", invalid}),
    test_support::named_by(&RejectCase::text));

// ---- strtof as the oracle ------------------------------------------------------------------

std::uint32_t oracle_bits(const std::string& text) {
  return bits_of(std::strtof(text.c_str(), nullptr));
}

std::string random_digits(std::mt19937_64& random, int count) {
  std::string digits;
  // Runs of 0 or 9 put values near the points where the rounding turns.
  const int style = static_cast<int>(random() % 4);
  for (int i = 0; i < count; ++i) {
    char digit = static_cast<char>('0' + random() % 10);
    if (style == 1 && i > 3) digit = '0';
    if (style == 2 && i > 3) digit = '9';
    digits += digit;
  }
  if (digits[0] == '0') digits[0] = static_cast<char>('1' + random() % 9);
  return digits;
}

// Any accepted decimal: 1 to 40 significant digits, leading zeros, the point anywhere (or absent),
// an exponent (or none) chosen so magnitudes spread over and past the binary32 range.
std::string random_decimal(std::mt19937_64& random) {
  std::string text;
  text += "\0+-"[random() % 3];
  if (text[0] == '\0') text.clear();
  const int leading_zeros = random() % 3 == 0 ? static_cast<int>(random() % 25) : 0;
  const int digit_count = 1 + static_cast<int>(random() % 40);
  std::string digits = std::string(leading_zeros, '0') + random_digits(random, digit_count);
  const int point = static_cast<int>(random() % (digits.size() + 2));  // size + 1: none
  if (point <= static_cast<int>(digits.size())) digits.insert(digits.begin() + point, '.');
  text += digits;
  if (random() % 8 != 0) {
    const int integer_digits = std::min<int>(point, leading_zeros + digit_count) - leading_zeros;
    const int magnitude = random() % 10 == 0 ? static_cast<int>(random() % 800) - 400
                                             : static_cast<int>(random() % 100) - 55;
    const int exponent = magnitude - integer_digits;
    text += random() % 2 ? 'e' : 'E';
    if (exponent < 0) text += '-';
    else if (random() % 2) text += '+';
    if (random() % 4 == 0) text += "000";
    text += std::to_string(std::abs(exponent));
  }
  return text;
}

// Fields as the plot files hold them: %12.5E or %15.8E of values between 1e-12 and 1e12.
std::string random_field(std::mt19937_64& random) {
  const double mantissa = 1.0 + static_cast<double>(random() % 9'000'000'000) / 1e9;
  const double value = mantissa * std::pow(10.0, static_cast<int>(random() % 25) - 12);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, random() % 2 ? "%.5E" : "%.8E", random() % 2 ? value : -value);
  return buffer;
}

// Exact midpoints between neighbouring binary32 values, subnormals and the top included, and
// decimals just above and below them (also past 768 digits).
std::string random_halfway(std::mt19937_64& random) {
  const auto low_bits = static_cast<std::uint32_t>(
      random() % 3 == 0 ? random() % 0x0100'0000 : random() % largest_finite + 1);
  const double low = std::bit_cast<float>(low_bits);
  const double high = low_bits == largest_finite
                          ? std::ldexp(1.0, 128)
                          : static_cast<double>(std::bit_cast<float>(low_bits + 1));
  const double middle = (low + high) / 2;  // exact: 25 significant bits
  char buffer[900];
  std::snprintf(buffer, sizeof buffer, "%.800e", middle);  // glibc prints the exact expansion
  std::string text = buffer;
  const std::size_t e = text.find('e');
  std::string mantissa = text.substr(0, e);
  const std::string exponent = text.substr(e);
  mantissa.erase(mantissa.find_last_not_of('0') + 1);
  switch (random() % 5) {
    case 0: break;
    case 1: mantissa += "000001"; break;
    case 2: mantissa.back() = static_cast<char>(mantissa.back() - 1); mantissa += "99999"; break;
    case 3: mantissa += std::string(800, '0') + "1"; break;
    case 4: mantissa += std::string(800, '0'); break;
  }
  return mantissa + exponent;
}

// Midpoints between neighbouring normal binary32 values cut to 16 significant digits: within
// reach of the binary64 fast path, and often rounded by binary64 onto the midpoint itself.
std::string random_rounded_halfway(std::mt19937_64& random) {
  const auto low_bits = static_cast<std::uint32_t>(0x0D00'0000 + random() % 0x5D00'0000);
  const double middle = (static_cast<double>(std::bit_cast<float>(low_bits)) +
                         static_cast<double>(std::bit_cast<float>(low_bits + 1))) / 2;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, random() % 2 ? "%.15e" : "%.14e", middle);
  return buffer;
}

// Few digits, exponents at the ends of the range.
std::string random_range_end(std::mt19937_64& random) {
  const int exponents[] = {-47, -46, -45, -44, -39, -38, -37, 37, 38, 39};
  return random_digits(random, 1 + static_cast<int>(random() % 12)) + "e" +
         std::to_string(exponents[random() % std::size(exponents)]);
}

struct OracleCase {
  const char* name;
  std::string (*generate)(std::mt19937_64&);
  int count;
};

void PrintTo(const OracleCase& c, std::ostream* out) { *out << c.name; }

class FloatParseOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(FloatParseOracle, MatchesCorrectlyRoundedBits) {
  std::mt19937_64 random(20'260'101);
  int mismatches = 0;
  for (int i = 0; i < GetParam().count; ++i) {
    const std::string text = GetParam().generate(random);
    const auto result = parse_float32(text);
    if (!result.has_value()) {
      ADD_FAILURE() << "rejected '" << text << "'";
    } else if (bits_of(*result) != oracle_bits(text)) {
      ADD_FAILURE() << std::hex << "'" << text << "': got 0x" << bits_of(*result) << ", want 0x"
                    << oracle_bits(text);
    } else {
      continue;
    }
    if (++mismatches == 10) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Random, FloatParseOracle, testing::Values(
    OracleCase{"decimals", random_decimal, 500'000},
    OracleCase{"fields", random_field, 250'000},
    OracleCase{"halfway", random_halfway, 100'000},
    OracleCase{"rounded_halfway", random_rounded_halfway, 200'000},
    OracleCase{"range_ends", random_range_end, 150'000}),
    [](const auto& info) { return std::string(info.param.name); });

// The slower tiers on their own, so that a fault in one is not hidden by the next: the big decimal
// must be right on everything, Eisel–Lemire right whenever it decides, and decide nearly always.
struct TierCase {
  const char* name;
  std::string (*generate)(std::mt19937_64&);
  int count;
  // Of the strings without dropped digits, the share Eisel–Lemire must decide, in percent.
  int min_decided_percent;
};

void PrintTo(const TierCase& c, std::ostream* out) { *out << c.name; }

class FloatParseTiers : public testing::TestWithParam<TierCase> {};

TEST_P(FloatParseTiers, EachTierMatchesTheOracle) {
  std::mt19937_64 random(77);
  int eligible = 0;
  int decided = 0;
  for (int i = 0; i < GetParam().count; ++i) {
    const std::string text = GetParam().generate(random);
    const std::uint32_t want = oracle_bits(text) & 0x7FFF'FFFF;
    EXPECT_EQ(float_parse::BigDecimal(text).to_binary32_bits(), want) << text;
    const float_parse::DecimalScan scan = float_parse::scan_decimal(text);
    ASSERT_EQ(scan.form, float_parse::DecimalScan::Form::Number) << text;
    if (scan.digits_dropped) continue;
    ++eligible;
    const std::int64_t bits = float_parse::eisel_lemire(scan.significand, scan.exponent);
    if (bits == float_parse::undecided) continue;
    ++decided;
    EXPECT_EQ(bits, want) << text;
  }
  EXPECT_GE(decided * 100, eligible * GetParam().min_decided_percent);
}

INSTANTIATE_TEST_SUITE_P(Random, FloatParseTiers, testing::Values(
    TierCase{"decimals", random_decimal, 20'000, 99},
    TierCase{"fields", random_field, 20'000, 100},
    TierCase{"halfway", random_halfway, 5'000, 99},
    TierCase{"range_ends", random_range_end, 20'000, 100}),
    [](const auto& info) { return std::string(info.param.name); });

struct EiselLemireCase {
  std::uint64_t significand;
  std::int64_t exponent;
  std::int64_t bits;
};

void PrintTo(const EiselLemireCase& c, std::ostream* out) { *out << c.significand << "e" << c.exponent; }

class FloatParseEiselLemire : public testing::TestWithParam<EiselLemireCase> {};

TEST_P(FloatParseEiselLemire, GivesBitsOrLeavesOpen) {
  EXPECT_EQ(float_parse::eisel_lemire(GetParam().significand, GetParam().exponent), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(Cases, FloatParseEiselLemire, testing::Values(
    EiselLemireCase{16777217, 0, bits_of(16777216.0f)},           // exact product: tie to even
    EiselLemireCase{16777219, 0, bits_of(16777220.0f)},
    EiselLemireCase{83886095, -1, bits_of(8388610.0f)},           // 8388609.5: exact tie, q < 0
    EiselLemireCase{83886105, -1, bits_of(8388610.0f)},
    EiselLemireCase{5, -1, bits_of(0.5f)},                         // exact binary fractions, q < 0
    EiselLemireCase{500000000, -9, bits_of(0.5f)},
    EiselLemireCase{123456250000, -8, bits_of(1234.5625f)},
    EiselLemireCase{7450580596923828125, -27, bits_of(0x1p-27f)},  // 5^27 · 10^-27
    EiselLemireCase{1490116119384765625, -26, bits_of(0x1p-26f)},
    EiselLemireCase{123456789, -5, bits_of(1234.56787109375f)},
    EiselLemireCase{1, -66, 0},
    EiselLemireCase{9999999999999999999u, -66, 0},
    EiselLemireCase{1, 39, plus_infinity},
    EiselLemireCase{0, 20, 0},
    EiselLemireCase{1, -45, 1},                                    // 1e-45: the smallest subnormal
    EiselLemireCase{7, -46, 0},
    EiselLemireCase{34028235, 31, largest_finite},
    EiselLemireCase{34028236, 31, plus_infinity}),
    [](const testing::TestParamInfo<EiselLemireCase>& info) {
      return test_support::case_name(std::to_string(info.param.significand) + "e" +
                                     std::to_string(info.param.exponent));
    });

}  // namespace
}  // namespace quorvel
