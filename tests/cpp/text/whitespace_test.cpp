// Whitespace, whitespace tokens, trim and the unsigned decimal parse.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "text/tokens.h"
#include "text/unsigned_parse.h"
#include "text/whitespace.h"

#include "support/case_name.h"

namespace quorvel {
namespace {

// The White_Space property, written out code point by code point.
constexpr char32_t white_space_list[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

TEST(Whitespace, ExhaustiveOverAllCodePoints) {
  static_assert(std::size(white_space_list) == 25);
  std::size_t found = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    const bool expected = std::ranges::find(white_space_list, cp) != std::end(white_space_list);
    ASSERT_EQ(is_whitespace(cp), expected) << std::hex << "U+" << static_cast<std::uint32_t>(cp);
    found += expected;
  }
  EXPECT_EQ(found, 25u);
}

// Code points whose low byte selects a whitespace bit in some other page.
TEST(Whitespace, LowByteAliasesInOtherPages) {
  for (char32_t page : {0x01, 0x16, 0x21, 0x30, 0x1F, 0xFF, 0x120, 0x10FF}) {
    for (char32_t low : {0x00, 0x0A, 0x28, 0x2F, 0x5F, 0x80, 0x85, 0xA0}) {
      const char32_t cp = page << 8 | low;
      if (cp == 0x1680 || cp == 0x3000) continue;
      EXPECT_FALSE(is_whitespace(cp)) << std::hex << static_cast<std::uint32_t>(cp);
    }
  }
  EXPECT_FALSE(is_whitespace(0x110000 | 0x20));
}

using Tokens = std::vector<std::string_view>;

struct TokensCase {
  const char* name;
  std::string_view text;
  Tokens tokens;
};

void PrintTo(const TokensCase& c, std::ostream* out) { *out << c.name; }

class WhitespaceTokens : public testing::TestWithParam<TokensCase> {};

TEST_P(WhitespaceTokens, Split) {
  const TokensCase& c = GetParam();
  const Tokens got = whitespace_tokens(c.text);
  EXPECT_EQ(got, c.tokens);
  for (std::string_view token : got) {  // views into the text, not copies
    EXPECT_GE(token.data(), c.text.data());
    EXPECT_LE(token.data() + token.size(), c.text.data() + c.text.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, WhitespaceTokens,
    testing::Values(
        TokensCase{"header", "  Time  (s)\t", {"Time", "(s)"}},
        TokensCase{"ideographic_space", "x\u3000y", {"x", "y"}},
        TokensCase{"no_break_space", "x\u00A0y", {"x", "y"}},
        TokensCase{"next_line", "x\u0085y", {"x", "y"}},
        TokensCase{"ogham", "x\u1680y", {"x", "y"}},
        TokensCase{"paragraph_separator", "x\u2029y", {"x", "y"}},
        TokensCase{"zero_width_space_joins", "a\u200Bb", {"a\u200Bb"}},
        TokensCase{"unit_separator_joins", "\x1Fx", {"\x1Fx"}},
        TokensCase{"byte_order_mark_joins", "\uFEFF12", {"\uFEFF12"}},
        TokensCase{"nel_neighbour_joins", "a\u0084b", {"a\u0084b"}},
        TokensCase{"empty", "", {}},
        TokensCase{"blanks", " \t\r\n\v\f \u3000\u00A0", {}},
        TokensCase{"one", "x", {"x"}},
        TokensCase{"count_line", "KAVRINE PLOT FILE  N= 17\r", {"KAVRINE", "PLOT", "FILE", "N=", "17"}},
        TokensCase{"non_ascii_tokens", "\u00E9t\u00E9\u2003\U0001F600", {"\u00E9t\u00E9", "\U0001F600"}},
        TokensCase{"five_grow_past_four", "a b c d e", {"a", "b", "c", "d", "e"}},
        TokensCase{"nine_grow_twice", " 1 2 3 4 5 6 7 8 9 ", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WhitespaceTokensStorage, NoTokenNoAllocationThenFourThenDoubling) {
  EXPECT_EQ(whitespace_tokens("").capacity(), 0u);
  EXPECT_EQ(whitespace_tokens(" \t\u3000 ").capacity(), 0u);
  EXPECT_EQ(whitespace_tokens("a").capacity(), 4u);
  EXPECT_EQ(whitespace_tokens("a b c d").capacity(), 4u);
  EXPECT_EQ(whitespace_tokens("a b c d e").capacity(), 8u);
  EXPECT_EQ(whitespace_tokens("a b c d e f g h i").capacity(), 16u);
}

struct TrimCase {
  const char* name;
  std::string_view text;
  std::string_view trimmed;
};

void PrintTo(const TrimCase& c, std::ostream* out) { *out << c.name; }

class Trim : public testing::TestWithParam<TrimCase> {};

TEST_P(Trim, RemovesOuterWhitespaceOnly) {
  const TrimCase& c = GetParam();
  const std::string_view got = trim(c.text);
  EXPECT_EQ(got, c.trimmed);
  if (!got.empty()) {  // a view into the same text
    EXPECT_GE(got.data(), c.text.data());
    EXPECT_LE(got.data() + got.size(), c.text.data() + c.text.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Trim,
    testing::Values(TrimCase{"twelve_spaces", "            ", ""},
                    TrimCase{"empty", "", ""},
                    TrimCase{"field_with_trailing_nbsp", "  -1.5E+01 \u00A0", "-1.5E+01"},
                    TrimCase{"inner_space_stays", "1.5 E3", "1.5 E3"},
                    TrimCase{"right_aligned_field", "   1.23456E+03", "1.23456E+03"},
                    TrimCase{"full_field", "-1.23456E+03", "-1.23456E+03"},
                    TrimCase{"all_kinds", "\t\n\v\f\r \u0085\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u3000x"
                                          "\u3000\u205F\u202F\u2029\u2028\u200A\u2000\u1680\u00A0\u0085 \r\f\v\n\t",
                             "x"},
                    TrimCase{"multi_byte_whitespace_only", "\u3000\u00A0\u2003", ""},
                    TrimCase{"not_whitespace_kept", "\u200B1\x1F", "\u200B1\x1F"},
                    TrimCase{"bom_kept", "\uFEFF 1 ", "\uFEFF 1"},
                    TrimCase{"non_ascii_ends", " \u00E9 \U0001F600 ", "\u00E9 \U0001F600"},
                    TrimCase{"single_char", " x ", "x"},
                    // Leading blanks are counted a word of eight at a time.
                    TrimCase{"seven_blanks", "       1.5E+00", "1.5E+00"},
                    TrimCase{"eight_blanks", "        1.5E+00", "1.5E+00"},
                    TrimCase{"nine_blanks", "         1.5E+00", "1.5E+00"},
                    TrimCase{"blanks_then_tab", "   \t 1.5E+00", "1.5E+00"},
                    TrimCase{"blanks_then_nbsp", "  \u00A0 1.5E+00", "1.5E+00"},
                    TrimCase{"eight_blanks_only", "        ", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Random texts built from known characters, so the expected tokens and trim follow from which
// pieces are whitespace, without decoding.
TEST(TokensAndTrim, RandomTextsAgreeWithPieceReference) {
  struct Piece {
    std::string_view bytes;
    bool whitespace;
  };
  static constexpr Piece pieces[] = {
      {" ", true},           {"\t", true},         {"\r", true},         {"\u0085", true},
      {"\u00A0", true},      {"\u1680", true},     {"\u2000", true},     {"\u2029", true},
      {"\u3000", true},      {"a", false},         {"-", false},         {"\x1F", false},
      {"\u00E9", false},     {"\u200B", false},    {"\uFEFF", false},    {"\U0001F600", false},
      {"\u3001", false},     {"\u0160", false},    {"\u2060", false},    {"\u180E", false},
  };
  std::mt19937_64 rng(7);
  for (int n = 0; n < 20'000; ++n) {
    std::string text;
    std::vector<std::pair<std::size_t, std::size_t>> expected_spans;  // tokens as byte spans
    std::size_t first_kept = std::string::npos;
    std::size_t last_kept_end = 0;
    bool in_token = false;
    for (std::uint64_t count = rng() % 14; count > 0; --count) {
      const Piece& piece = pieces[rng() % std::size(pieces)];
      const std::size_t at = text.size();
      text += piece.bytes;
      if (piece.whitespace) {
        in_token = false;
        continue;
      }
      if (!in_token) expected_spans.emplace_back(at, 0);
      in_token = true;
      expected_spans.back().second = text.size() - expected_spans.back().first;
      if (first_kept == std::string::npos) first_kept = at;
      last_kept_end = text.size();
    }
    const std::string_view view(text);
    Tokens expected;
    for (auto [start, length] : expected_spans) expected.push_back(view.substr(start, length));
    ASSERT_EQ(whitespace_tokens(view), expected) << testing::PrintToString(text);
    const std::string_view trimmed =
        first_kept == std::string::npos ? std::string_view() : view.substr(first_kept, last_kept_end - first_kept);
    ASSERT_EQ(trim(view), trimmed) << testing::PrintToString(text);
  }
}

struct UnsignedCase {
  std::string text;
  std::optional<std::uint64_t> value;
};

void PrintTo(const UnsignedCase& c, std::ostream* out) { *out << '\'' << c.text << '\''; }

class UnsignedDecimal : public testing::TestWithParam<UnsignedCase> {};

TEST_P(UnsignedDecimal, Parses) {
  EXPECT_EQ(parse_unsigned_decimal(GetParam().text), GetParam().value) << '\'' << GetParam().text << '\'';
}

constexpr std::uint64_t max64 = 18446744073709551615ULL;

INSTANTIATE_TEST_SUITE_P(
    Table, UnsignedDecimal,
    testing::Values(
        UnsignedCase{"42", 42}, UnsignedCase{"+42", 42}, UnsignedCase{"0", 0}, UnsignedCase{"+0", 0},
        UnsignedCase{"7", 7}, UnsignedCase{"0000000000000000000042", 42},
        UnsignedCase{"18446744073709551615", max64}, UnsignedCase{"+18446744073709551615", max64},
        UnsignedCase{"000018446744073709551615", max64},
        UnsignedCase{"18446744073709551616", std::nullopt}, UnsignedCase{"18446744073709551620", std::nullopt},
        UnsignedCase{"99999999999999999999", std::nullopt}, UnsignedCase{"184467440737095516150", std::nullopt},
        UnsignedCase{"", std::nullopt}, UnsignedCase{"+", std::nullopt}, UnsignedCase{"-", std::nullopt},
        UnsignedCase{"-0", std::nullopt}, UnsignedCase{"-3", std::nullopt}, UnsignedCase{"4.0", std::nullopt},
        UnsignedCase{"1e3", std::nullopt}, UnsignedCase{"++4", std::nullopt}, UnsignedCase{"+-4", std::nullopt},
        UnsignedCase{" 4", std::nullopt}, UnsignedCase{"4 ", std::nullopt}, UnsignedCase{"4/", std::nullopt},
        UnsignedCase{"4:", std::nullopt}, UnsignedCase{"\xD9\xA4", std::nullopt},  // ARABIC-INDIC FOUR
        // 16 digits take the unchecked path, 17 and more the checked one.
        UnsignedCase{"9999999999999999", 9999999999999999ULL},
        UnsignedCase{"+9999999999999999", 9999999999999999ULL},
        UnsignedCase{"99999999999999999", 99999999999999999ULL},
        UnsignedCase{"999999999999999999", 999999999999999999ULL},
        UnsignedCase{"9999999999999999999", 9999999999999999999ULL},
        UnsignedCase{"0000000000000000000000001", 1}, UnsignedCase{"0000000000000000000000000", 0},
        UnsignedCase{"000000000000000x", std::nullopt}, UnsignedCase{"0000000000000000x", std::nullopt},
        UnsignedCase{"x0000000000000000", std::nullopt},
        UnsignedCase{"1844674407370955161x", std::nullopt}, UnsignedCase{"1844674407370955162x", std::nullopt},
        UnsignedCase{"28446744073709551615", std::nullopt}),
    test_support::named_by(&UnsignedCase::text));

}  // namespace
}  // namespace quorvel
