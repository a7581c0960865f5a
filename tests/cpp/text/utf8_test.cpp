// The UTF-8 check and decoders against a plain reference decoder that computes each code point and
// then judges it, rather than judging lead and second byte ranges as the checker does.

#include "text/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// The code points of `bytes`, or nothing when they are not well-formed.
std::optional<std::vector<char32_t>> reference_decode(std::string_view bytes) {
  std::vector<char32_t> out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length;
    char32_t cp;
    if (lead < 0x80) {
      length = 1, cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (bytes.size() - i < length) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    constexpr char32_t shortest_min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < shortest_min[length]) return std::nullopt;
    if (cp >= 0xD800 && cp <= 0xDFFF) return std::nullopt;
    if (cp > 0x10FFFF) return std::nullopt;
    out.push_back(cp);
    i += length;
  }
  return out;
}

std::string encode(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// Checks that the decoders walk `text` (well-formed) to exactly the reference code points.
void expect_decoders_agree(std::string_view text, const std::vector<char32_t>& expected) {
  std::vector<char32_t> forward;
  for (std::size_t at = 0; at < text.size();) {
    const DecodedChar c = decode_char_at(text, at);
    ASSERT_GE(c.length, 1u);
    ASSERT_EQ(c.length, encode(c.code_point).size());
    forward.push_back(c.code_point);
    at += c.length;
  }
  EXPECT_EQ(forward, expected);
  std::vector<char32_t> backward;
  for (std::size_t end = text.size(); end > 0;) {
    const DecodedChar c = decode_char_before(text, end);
    ASSERT_GE(c.length, 1u);
    ASSERT_LE(c.length, end);
    backward.insert(backward.begin(), c.code_point);
    end -= c.length;
  }
  EXPECT_EQ(backward, expected);
}

struct Sequence {
  const char* name;
  std::string bytes;
  bool valid;
};

void PrintTo(const Sequence& c, std::ostream* out) { *out << c.name; }

const std::vector<Sequence>& sequences() {
  static const std::vector<Sequence> table = {
      {"last_ascii", "\x7F", true},
      {"first_two_byte", "\xC2\x80", true},
      {"last_two_byte", "\xDF\xBF", true},
      {"first_three_byte", "\xE0\xA0\x80", true},
      {"before_surrogates", "\xED\x9F\xBF", true},
      {"after_surrogates", "\xEE\x80\x80", true},
      {"last_three_byte", "\xEF\xBF\xBF", true},
      {"first_four_byte", "\xF0\x90\x80\x80", true},
      {"last_code_point", "\xF4\x8F\xBF\xBF", true},
      {"overlong_two_c0", "\xC0\x80", false},
      {"overlong_two_c1", "\xC1\xBF", false},
      {"overlong_three", "\xE0\x9F\xBF", false},
      {"overlong_three_nul", "\xE0\x80\x80", false},
      {"overlong_four", "\xF0\x8F\xBF\xBF", false},
      {"overlong_four_nul", "\xF0\x80\x80\x80", false},
      {"first_surrogate", "\xED\xA0\x80", false},
      {"last_surrogate", "\xED\xBF\xBF", false},
      {"high_surrogate_end", "\xED\xAF\xBF", false},
      {"beyond_max", "\xF4\x90\x80\x80", false},
      {"lead_f5", "\xF5\x80\x80\x80", false},
      {"lead_f7", "\xF7\xBF\xBF\xBF", false},
      {"lead_f8", "\xF8\x88\x80\x80\x80", false},
      {"lead_fe", "\xFE", false},
      {"lead_ff", "\xFF", false},
      {"stray_continuation", "\x80", false},
      {"stray_continuation_high", "\xBF", false},
      {"continuation_after_char", "\xC3\xA9\x80", false},
      {"truncated_two", "\xC3", false},
      {"truncated_three_of_one", "\xE2", false},
      {"truncated_three_of_two", "\xE2\x82", false},
      {"truncated_four_of_three", "\xF0\x9F\x98", false},
      {"interrupted_by_ascii", "\xE2\x41\xAC", false},
      {"two_leads", "\xC3\xC3\xA9", false},
  };
  return table;
}

class Utf8Sequence : public testing::TestWithParam<Sequence> {};

TEST_P(Utf8Sequence, JudgedAloneAndAtEveryAlignmentInAsciiPadding) {
  const Sequence& seq = GetParam();
  ASSERT_EQ(reference_decode(seq.bytes).has_value(), seq.valid);  // the table itself is right
  EXPECT_EQ(is_valid_utf8(seq.bytes), seq.valid);

  // A buffer with a 32-byte aligned base, so that positions relative to it are real alignments.
  std::vector<char> storage(256);
  const auto base_address = reinterpret_cast<std::uintptr_t>(storage.data());
  char* const base = storage.data() + ((32 - base_address % 32) % 32);
  for (std::size_t start = 0; start < 8; ++start) {
    for (std::size_t position = 0; position < 32; ++position) {
      for (std::size_t tail : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 33u}) {
        std::string text(position, 'a');
        text += seq.bytes;
        text.append(tail, 'z');
        std::copy(text.begin(), text.end(), base + start);
        const std::string_view view(base + start, text.size());
        ASSERT_EQ(is_valid_utf8(view), seq.valid)
            << "start " << start << " position " << position << " tail " << tail;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, Utf8Sequence, testing::ValuesIn(sequences()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8, EmptyAndLongAsciiAreValid) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8(std::string(1000, 'x')));
  EXPECT_TRUE(is_valid_utf8(std::string(1000, '\0')));
  // The last byte of a long ASCII run is checked too.
  EXPECT_FALSE(is_valid_utf8(std::string(1000, 'x') + "\x80"));
  EXPECT_FALSE(is_valid_utf8(std::string(999, 'x') + "\xC3"));
}

// Pieces that a random string is made of, weighted towards what breaks checkers.
std::string random_piece(std::mt19937_64& rng) {
  auto pick = [&](std::uint64_t n) { return rng() % n; };
  static constexpr char32_t boundaries[] = {0x7F,   0x80,   0x7FF,   0x800,    0xD7FF,
                                            0xE000, 0xFFFF, 0x10000, 0x10FFFF, 0xFEFF};
  switch (pick(8)) {
    case 0: return std::string(pick(40), static_cast<char>('!' + pick(90)));  // ASCII run
    case 1: return encode(static_cast<char32_t>(0x80 + pick(0x780)));
    case 2: {
      char32_t cp = static_cast<char32_t>(0x800 + pick(0xF800));
      if (cp >= 0xD800 && cp <= 0xDFFF) cp -= 0x800;
      return encode(cp);
    }
    case 3: return encode(static_cast<char32_t>(0x10000 + pick(0x100000)));
    case 4: return encode(boundaries[pick(std::size(boundaries))]);
    case 5: {  // a valid multi-byte character cut short
      const std::string full = encode(static_cast<char32_t>(0x80 + pick(0x10FF80)));
      return full.substr(0, 1 + pick(full.size() - 1));
    }
    case 6: {  // a lead byte followed by continuation-range bytes of any kind
      std::string s(1, static_cast<char>(0xC0 + pick(0x40)));
      for (std::uint64_t k = pick(4); k > 0; --k) s += static_cast<char>(0x80 + pick(0x40));
      return s;
    }
    default: return std::string(1, static_cast<char>(pick(256)));  // any byte
  }
}

TEST(Utf8, RandomStringsAgreeWithReference) {
  std::mt19937_64 rng(20240611);
  std::size_t valid_count = 0;
  for (int n = 0; n < 200'000; ++n) {
    std::string text;
    for (std::uint64_t pieces = 1 + rng() % 6; pieces > 0; --pieces) text += random_piece(rng);
    const auto expected = reference_decode(text);
    ASSERT_EQ(is_valid_utf8(text), expected.has_value()) << testing::PrintToString(text);
    if (expected) {
      ++valid_count;
      expect_decoders_agree(text, *expected);
      if (HasFatalFailure()) return;
    }
  }
  // The generator must exercise both outcomes in earnest.
  EXPECT_GT(valid_count, 20'000u);
  EXPECT_LT(valid_count, 180'000u);
}

TEST(Utf8, DecodersOnEveryEncodingLength) {
  const std::vector<char32_t> cps = {0x00, 0x41, 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x20AC,
                                     0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
  std::string text;
  for (char32_t cp : cps) text += encode(cp);
  expect_decoders_agree(text, cps);
}

}  // namespace
}  // namespace quorvel
