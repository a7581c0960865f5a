#include "reader/lines/line_feeds.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if QUORVEL_WIDE_VECTORS
#include <immintrin.h>
#endif

namespace quorvel {
namespace {

// The line feeds in the bytes short of a whole vector (or in all of them), a word at a time: a
// byte of `x` is zero exactly when the high bit of the same byte of the result is set.
std::uint64_t count_line_feeds_wordwise(const char* p, std::size_t size) noexcept {
  constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr std::uint64_t feeds = 0x0A0A0A0A0A0A0A0AULL;
  std::uint64_t count = 0;
  std::size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + at, 8);
    const std::uint64_t x = word ^ feeds;
    const std::uint64_t zero_high = ~(((x & low7) + low7) | x | low7);
    count += static_cast<std::uint64_t>(std::popcount(zero_high));
  }
  for (; at < size; ++at) count += p[at] == '\n' ? 1 : 0;
  return count;
}

}  // namespace

namespace line_feeds_detail {

std::uint64_t count_portable(const char* p, std::size_t size) noexcept {
#if defined(__SSE2__)
  const __m128i line_feeds = _mm_set1_epi8('\n');
  std::uint64_t count = 0;
  std::size_t at = 0;
  // Per-byte counters of matches (each match subtracts -1) for up to 255 vectors, then summed.
  while (at + 16 <= size) {
    __m128i counters = _mm_setzero_si128();
    const std::size_t vectors = std::min<std::size_t>((size - at) / 16, 255);
    for (std::size_t i = 0; i < vectors; ++i, at += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, line_feeds));
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
  return count + count_line_feeds_wordwise(p + at, size - at);
#else
  return count_line_feeds_wordwise(p, size);
#endif
}

#if QUORVEL_WIDE_VECTORS
// The same with 32-byte vectors, for processors that have them: a count of bytes that sit in the
// cache then costs a third less, which is what a scan spends beside copying them.
[[gnu::target("avx2")]] std::uint64_t count_wide(const char* p, std::size_t size) noexcept {
  const __m256i line_feeds = _mm256_set1_epi8('\n');
  std::uint64_t count = 0;
  std::size_t at = 0;
  while (at + 32 <= size) {
    __m256i counters = _mm256_setzero_si256();
    const std::size_t vectors = std::min<std::size_t>((size - at) / 32, 255);
    for (std::size_t i = 0; i < vectors; ++i, at += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
      counters = _mm256_sub_epi8(counters, _mm256_cmpeq_epi8(bytes, line_feeds));
    }
    const __m256i sums = _mm256_sad_epu8(counters, _mm256_setzero_si256());
    count += static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 0)) + static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 1)) +
             static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 2)) + static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 3));
  }
  return count + count_portable(p + at, size - at);
}

bool wide_vectors() noexcept {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}
#else
std::uint64_t count_wide(const char* p, std::size_t size) noexcept { return count_portable(p, size); }
bool wide_vectors() noexcept { return false; }
#endif

}  // namespace line_feeds_detail

std::uint64_t count_line_feeds(const char* p, std::size_t size) noexcept {
  return line_feeds_detail::wide_vectors() ? line_feeds_detail::count_wide(p, size)
                                           : line_feeds_detail::count_portable(p, size);
}

LineFeedSearch nth_line_feed(const char* p, std::size_t size, std::uint64_t n) noexcept {
  const std::uint64_t sought = n;
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i line_feeds = _mm_set1_epi8('\n');
  const auto feeds_of = [&](std::size_t offset) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, line_feeds))));
  };
  // Sixty-four bytes a step, their line feeds as the bits of one word.
  for (; at + 64 <= size; at += 64) {
    std::uint64_t mask = feeds_of(at) | feeds_of(at + 16) << 16 | feeds_of(at + 32) << 32 | feeds_of(at + 48) << 48;
    const auto here = static_cast<std::uint64_t>(std::popcount(mask));
    if (here < n) {
      n -= here;
      continue;
    }
    for (; n > 1; --n) mask &= mask - 1;  // drop the line feeds before the one sought
    return {at + static_cast<std::size_t>(std::countr_zero(mask)), 0};
  }
#endif
  while (at < size) {
    const void* feed = std::memchr(p + at, '\n', size - at);
    if (feed == nullptr) break;
    at = static_cast<std::size_t>(static_cast<const char*>(feed) - p);
    if (--n == 0) return {at, 0};
    ++at;
  }
  return {std::nullopt, sought - n};
}

}  // namespace quorvel
