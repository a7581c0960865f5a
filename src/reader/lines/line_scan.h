#pragma once
// One pass over buffered text for the two things the line reader asks of it: where the next line
// feed is, and whether the bytes before it are all ASCII (then they are well-formed UTF-8 without
// a closer look). Plot-file lines are ASCII and about a hundred bytes long, so the pass goes 16
// bytes at a time where the processor has 16-byte vectors; the bytes short of a whole 16 (all of
// them elsewhere) go to memchr and the word-wise ASCII test.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/utf8.h"

namespace quorvel {

struct LineFeedScan {
  std::size_t line_feed;  // index of the first line feed, or the size scanned when there is none
  bool ascii;             // no byte of 0x80 or more before `line_feed`
};

// Reads only the `size` bytes at `p`.
inline LineFeedScan scan_to_line_feed(const char* p, std::size_t size) noexcept {
#if defined(__SSE2__)
  const __m128i line_feeds = _mm_set1_epi8('\n');
  __m128i seen = _mm_setzero_si128();  // the bytes before the 16 being looked at, or-ed together
  std::size_t at = 0;
  for (; at + 16 <= size; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, line_feeds)));
    if (feeds != 0) {
      const unsigned first = static_cast<unsigned>(std::countr_zero(feeds));
      // High bits of this block's bytes before the line feed only.
      const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes)) & ((1u << first) - 1);
      return {at + first, high == 0 && _mm_movemask_epi8(seen) == 0};
    }
    seen = _mm_or_si128(seen, bytes);
  }
  bool ascii = _mm_movemask_epi8(seen) == 0;
#else
  std::size_t at = 0;
  bool ascii = true;
#endif
  // The rest (all of it without vectors).
  const void* feed = std::memchr(p + at, '\n', size - at);
  const std::size_t end = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - p) : size;
  ascii = ascii && is_ascii(std::string_view(p + at, end - at));
  return {end, ascii};
}

}  // namespace quorvel
