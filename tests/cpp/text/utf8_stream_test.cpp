// The streamed check against the whole-text check, with the text cut at every place (and at
// every pair of places) so that each character is split between pieces in every way it can be.

#include "text/utf8_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "support/case_name.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

class Utf8StreamCuts : public testing::TestWithParam<std::string> {};

TEST_P(Utf8StreamCuts, AgreesWithTheWholeTextWhereverItIsCut) {
  const std::string& text = GetParam();
  const bool whole = is_valid_utf8(text);
  for (std::size_t first = 0; first <= text.size(); ++first) {
    for (std::size_t second = first; second <= text.size(); ++second) {
      Utf8Stream stream;
      stream.feed(std::string_view(text).substr(0, first));
      stream.feed(std::string_view(text).substr(first, second - first));
      stream.feed("");
      stream.feed(std::string_view(text).substr(second));
      ASSERT_EQ(stream.well_formed(), whole) << "cut at " << first << " and " << second;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8StreamCuts,
    testing::Values("", "plain ascii", std::string("nul\0nul", 7), "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC\xF0\x9F\x98\x80",
                    "x\xF4\x8F\xBF\xBFy",
                    // ill-formed: cut short at the end or before ASCII, overlong, surrogate, too high, stray
                    "ab\xE2\x82", "\xF0\x9F\x98", "\xE2\x82x", "\xC3\n", "\xC0\xAF", "\xE0\x80\x80", "\xED\xA0\x80",
                    "\xF4\x90\x80\x80", "\x80", "\xC3\xA9\x80", "ok\xFF", "\xF5\x80\x80\x80"),
    test_support::named_by_text);

}  // namespace
}  // namespace quorvel
