#pragma once
// Debug rendering of text: between double quotes, with escapes for quotes, backslashes, the
// common controls, and for every character that is not printable.

#include <string>
#include <string_view>

namespace quorvel {

// Not printable: controls, format characters, unassigned and private-use code points,
// separators other than the space, and combining (grapheme-extending) marks.
bool is_printable(char32_t code_point) noexcept;

// Appends `text` (well-formed UTF-8) between `quote`s, escaped: the quote, \\ \0 \t \r \n, and
// \u{hex} for characters that are not printable.
void append_quoted_text(std::string& out, std::string_view text, char quote);

// The debug rendering: between double quotes.
inline void append_debug_text(std::string& out, std::string_view text) { append_quoted_text(out, text, '"'); }

// Appends one character as it appears inside a rendered text or character: printable characters
// unchanged, the common controls as \0 \t \r \n, others as \u{hex}; quotes and backslash
// escaped when `quote` is that quote character.
void append_escaped_char(std::string& out, char32_t code_point, char quote);

}  // namespace quorvel
