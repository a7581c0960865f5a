// The UTF-8 check against a plain decoder that follows the table of well-formed byte sequences
// one byte at a time: the verdict, the valid prefix and the ASCII test must agree, at several
// alignments (the input, and the input without its first 1 to 15 bytes).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "text/utf8.h"

namespace {

// The length of the well-formed sequence at `at`, or 0.
std::size_t reference_sequence(const unsigned char* p, std::size_t left) {
  const unsigned lead = p[0];
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3, low = 0xA0;
  } else if (lead == 0xED) {
    length = 3, high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4, low = 0x90;
  } else if (lead == 0xF4) {
    length = 4, high = 0x8F;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else {
    return 0;
  }
  if (left < length) return 0;
  if (p[1] < low || p[1] > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

std::size_t reference_prefix(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t length = reference_sequence(p + at, bytes.size() - at);
    if (length == 0) break;
    at += length;
  }
  return at;
}

void check(std::string_view bytes) {
  const std::size_t prefix = reference_prefix(bytes);
  const bool valid = prefix == bytes.size();
  if (quorvel::is_valid_utf8(bytes) != valid || quorvel::valid_utf8_prefix(bytes) != prefix) {
    std::fprintf(stderr, "UTF-8 check differs from the reference on %zu bytes (prefix %zu)\n", bytes.size(), prefix);
    std::abort();
  }
  bool ascii = true;
  for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (quorvel::is_ascii(bytes) != ascii) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  check(bytes);
  for (std::size_t skip = 1; skip < 16 && skip < size; ++skip) check(bytes.substr(skip));
  return 0;
}
