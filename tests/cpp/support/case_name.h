#pragma once
// Names for parameterised cases made from their text, so that a test reads
// `Forms/FloatParseRejected.GivesErrorKind/1eplus` rather than `/10`. GoogleTest takes letters,
// digits and underscores only; two cases that come out the same stop the test program at its start.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvel::test_support {

// Letters and digits stay; a blank or a point becomes `_`, a sign `plus` or `minus`, any other
// byte `x` and its two hex digits; the empty text is `empty`. A name longer than 64 characters
// (a long decimal expansion) keeps its first and last 28 around `_etc_`, to stay readable in logs.
inline std::string case_name(std::string_view text) {
  if (text.empty()) return "empty";
  std::string name;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')) {
      name += c;
    } else if (c == ' ' || c == '.') {
      name += '_';
    } else if (c == '+') {
      name += "plus";
    } else if (c == '-') {
      name += "minus";
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "x%02X", byte);
      name += hex;
    }
  }
  constexpr std::size_t kept = 28;
  if (name.size() > 64) name = name.substr(0, kept) + "_etc_" + name.substr(name.size() - kept);
  return name;
}

// A name generator that names each case by one of its text members.
template <class Case, class Text>
auto named_by(Text Case::*member) {
  return [member](const ::testing::TestParamInfo<Case>& info) { return case_name(info.param.*member); };
}

// A name generator for cases that are text themselves.
inline std::string named_by_text(const ::testing::TestParamInfo<std::string>& info) { return case_name(info.param); }

}  // namespace quorvel::test_support
