// Debug rendering of text and the printable test behind it.

#include "text/debug_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <format>
#include <string>

namespace quorvel {
namespace {

struct RenderCase {
  const char* name;
  std::string_view text;
  std::string_view rendered;
};

void PrintTo(const RenderCase& c, std::ostream* out) { *out << c.name; }

class DebugText : public testing::TestWithParam<RenderCase> {};

TEST_P(DebugText, Renders) {
  std::string out = "prefix:";
  append_debug_text(out, GetParam().text);
  EXPECT_EQ(out, "prefix:" + std::string(GetParam().rendered));
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    Escapes, DebugText,
    testing::Values(
        RenderCase{"empty", "", R"("")"},
        RenderCase{"plain", "entity not found", R"("entity not found")"},
        RenderCase{"double_quote", "say \"hi\"", R"("say \"hi\"")"},
        RenderCase{"single_quote_unchanged", "it's", R"("it's")"},
        RenderCase{"backslash", "C:\\dir\\f", R"("C:\\dir\\f")"},
        RenderCase{"nul", "a\0b"sv, R"("a\0b")"},
        RenderCase{"tab_cr_lf", "\t\r\n", R"("\t\r\n")"},
        RenderCase{"other_controls", "\x01\x1B\x1F", R"("\u{1}\u{1b}\u{1f}")"},
        RenderCase{"delete", "\x7F", R"("\u{7f}")"},
        RenderCase{"c1_control", "\u0085", R"("\u{85}")"},
        RenderCase{"combining_acute", "e\u0301", R"("e\u{301}")"},
        RenderCase{"no_break_space", "1\u00A0s", R"("1\u{a0}s")"},
        RenderCase{"soft_hyphen", "\u00AD", R"("\u{ad}")"},
        RenderCase{"zero_width_space", "\u200B", R"("\u{200b}")"},
        RenderCase{"zero_width_joiner", "\u200D", R"("\u{200d}")"},
        RenderCase{"line_separator", "\u2028", R"("\u{2028}")"},
        RenderCase{"ideographic_space", "\u3000", R"("\u{3000}")"},
        RenderCase{"byte_order_mark", "\uFEFF", R"("\u{feff}")"},
        RenderCase{"variation_selector", "\uFE0F", R"("\u{fe0f}")"},
        RenderCase{"unassigned", "\u0378", R"("\u{378}")"},
        RenderCase{"noncharacter", "\uFFFF", R"("\u{ffff}")"},
        RenderCase{"private_use", "\uE000", R"("\u{e000}")"},
        RenderCase{"supplementary_private_use", "\U00100000", R"("\u{100000}")"},
        RenderCase{"last_code_point", "\U0010FFFF", R"("\u{10ffff}")"},
        RenderCase{"tag_character", "\U000E0041", R"("\u{e0041}")"},
        RenderCase{"e_acute", "\u00E9t\u00E9", "\"\u00E9t\u00E9\""},
        RenderCase{"cjk", "\u6587\u4EF6", "\"\u6587\u4EF6\""},
        RenderCase{"emoji", "\U0001F600", "\"\U0001F600\""},
        RenderCase{"euro_sign", "\u20AC", "\"\u20AC\""},
        RenderCase{"space_and_tilde", " ~", R"(" ~")"}),
    [](const auto& info) { return std::string(info.param.name); });

struct CharCase {
  char32_t code_point;
  char quote;
  std::string_view rendered;
};

std::string code_point_name(char32_t code_point) { return std::format("U{:04X}", static_cast<std::uint32_t>(code_point)); }

void PrintTo(const CharCase& c, std::ostream* out) {
  *out << code_point_name(c.code_point) << " between " << c.quote << " quotes";
}

class EscapedChar : public testing::TestWithParam<CharCase> {};

TEST_P(EscapedChar, Renders) {
  std::string out;
  append_escaped_char(out, GetParam().code_point, GetParam().quote);
  EXPECT_EQ(out, GetParam().rendered);
}

INSTANTIATE_TEST_SUITE_P(
    Quotes, EscapedChar,
    testing::Values(CharCase{U'\'', '\'', R"(\')"}, CharCase{U'"', '\'', R"(")"},
                    CharCase{U'\'', '"', R"(')"}, CharCase{U'"', '"', R"(\")"},
                    CharCase{U'\\', '\'', R"(\\)"}, CharCase{U'\\', '"', R"(\\)"},
                    CharCase{U'\0', '\'', R"(\0)"}, CharCase{U'a', '\'', "a"},
                    CharCase{0x10, '"', R"(\u{10})"}, CharCase{0x301, '\'', R"(\u{301})"},
                    CharCase{0xE9, '\'', "\u00E9"}, CharCase{0x1F600, '"', "\U0001F600"}),
    [](const testing::TestParamInfo<CharCase>& info) {
      return code_point_name(info.param.code_point) + (info.param.quote == '"' ? "_in_double_quotes" : "_in_single_quotes");
    });

struct PrintableCase {
  char32_t code_point;
  bool printable;
};

void PrintTo(const PrintableCase& c, std::ostream* out) { *out << code_point_name(c.code_point); }

class Printable : public testing::TestWithParam<PrintableCase> {};

TEST_P(Printable, Judged) {
  EXPECT_EQ(is_printable(GetParam().code_point), GetParam().printable)
      << std::hex << "U+" << static_cast<std::uint32_t>(GetParam().code_point);
}

// Edges of the ranges in the generated table, and one member of each excluded category.
INSTANTIATE_TEST_SUITE_P(
    Categories, Printable,
    testing::Values(PrintableCase{0x00, false}, PrintableCase{0x1F, false}, PrintableCase{0x20, true},
                    PrintableCase{0x7E, true}, PrintableCase{0x7F, false}, PrintableCase{0x9F, false},
                    PrintableCase{0xA0, false}, PrintableCase{0xA1, true}, PrintableCase{0xAC, true},
                    PrintableCase{0xAD, false}, PrintableCase{0xAE, true}, PrintableCase{0x2FF, true},
                    PrintableCase{0x300, false}, PrintableCase{0x36F, false}, PrintableCase{0x370, true},
                    PrintableCase{0x600, false},    // Cf: Arabic number sign
                    PrintableCase{0xD800, false},   // Cs
                    PrintableCase{0xDFFF, false},   // Cs
                    PrintableCase{0xF8FF, false},   // Co
                    PrintableCase{0xF900, true},
                    PrintableCase{0x1680, false},   // Zs
                    PrintableCase{0x2029, false},   // Zp
                    PrintableCase{0x200C, false},   // Grapheme_Extend (ZWNJ)
                    PrintableCase{0xFF9E, false},   // Grapheme_Extend (halfwidth voiced mark)
                    PrintableCase{0x4E00, true}, PrintableCase{0xAC00, true}, PrintableCase{0xD7A3, true},
                    PrintableCase{0x20000, true}, PrintableCase{0xE0001, false}, PrintableCase{0xE01EF, false},
                    PrintableCase{0xF0000, false}, PrintableCase{0x10FFFD, false}, PrintableCase{0x10FFFF, false}),
    [](const testing::TestParamInfo<PrintableCase>& info) { return code_point_name(info.param.code_point); });

}  // namespace
}  // namespace quorvel
