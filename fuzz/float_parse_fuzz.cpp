// The float parse, differentially: every text the accepted syntax matches gives the bits of glibc's
// strtof (correctly rounded), every other text is refused, with kind Empty for "" and Invalid
// otherwise. The syntax is restated here plainly, as a reference.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/float_parse.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

bool equals_folded(std::string_view text, std::string_view lower_name) {
  if (text.size() != lower_name.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower_name[i]) return false;
  }
  return true;
}

// [+-]? (digits [. digits?]? | . digits) ([eE] [+-]? digits)?  |  [+-]? (inf | infinity | nan)
bool accepted(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::string_view rest = text.substr(i);
  if (equals_folded(rest, "inf") || equals_folded(rest, "infinity") || equals_folded(rest, "nan")) return true;
  std::size_t digits = 0;
  while (i < text.size() && digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && digit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && digit(text[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == text.size();
}

[[noreturn]] void mismatch(std::string_view text, const char* what) {
  std::fprintf(stderr, "float parse mismatch (%s) on '%.*s'\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = quorvel::parse_float32(text);
  if (!accepted(text)) {
    if (parsed) mismatch(text, "accepted a text outside the syntax");
    const auto want = text.empty() ? quorvel::ParseFloatError::Kind::Empty : quorvel::ParseFloatError::Kind::Invalid;
    if (parsed.error().kind != want) mismatch(text, "wrong error kind");
    return 0;
  }
  if (!parsed) mismatch(text, "refused a text of the syntax");
  const std::string terminated(text);
  char* end = nullptr;
  const float want = std::strtof(terminated.c_str(), &end);
  if (end != terminated.c_str() + terminated.size()) mismatch(text, "the reference stopped early");
  std::uint32_t want_bits = std::bit_cast<std::uint32_t>(want);
  const std::uint32_t got_bits = std::bit_cast<std::uint32_t>(*parsed);
  if (want != want) want_bits = (want_bits & 0x8000'0000u) | 0x7FC0'0000u;  // the one quiet NaN, signed
  if (got_bits != want_bits) mismatch(text, "bits differ from strtof");
  return 0;
}
