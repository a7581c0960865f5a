#include "text/float/field_line.h"

#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "text/float/padded_field.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define QUORVEL_LINE_VECTORS 1
#include <immintrin.h>
#else
#define QUORVEL_LINE_VECTORS 0
#endif
// 32-byte vectors everywhere but Windows: there GCC cannot align the stack slots of 32-byte
// values (GCC bug 54412), so a spilled vector would fault.
#if QUORVEL_LINE_VECTORS && !defined(_WIN32)
#define QUORVEL_LINE_WIDE_VECTORS 1
#else
#define QUORVEL_LINE_WIDE_VECTORS 0
#endif

namespace quorvel {
namespace {

// ---------------------------------------------------------------------------------------------
// Exactness of the vector conversion.
//
// A field gives a significand m (its 1 + F digits, F = Width - 7: m < 10^9 < 2^30) and a decimal
// exponent k (the written exponent less F); its value is x = m · 10^k. The kernels take P, the
// binary64 nearest 10^k (a literal, rounded by the compiler), and d = m · P rounded to binary64:
// P is within 2^-53 of 10^k relatively and the product adds as much, so d is within 2^-52 · x of
// x, which is less than two units in the last place of d. The kernels keep k where every non-zero
// x lies inside the normal binary32 range (10^k >= 10^-37 and 10^(k + F + 1) <= 10^38), and there
// every point halfway between two adjacent binary32 values is a binary64 value whose 29 low
// significand bits read 1 and then zeros. When the 29 low bits of d are more than three units from
// that pattern, no halfway point lies between x and d, and narrowing d to binary32 (to nearest)
// gives the binary32 nearest to x: the correctly rounded value. A field whose d is within that
// (four units below, three above) is left to the per-field parse, unless d is x itself: P exact
// (10^k for 0 <= k <= 22, where |P| >= 1) and |d| < 2^53 (a product of integers that rounds below
// 2^53 was below it, so exact), when narrowing rounds x once, ties to even. Integers that large
// lie on halfway points often. The power carries the lead's sign (rounding is symmetric, and zero
// times a negative power is -0). An exponent outside that reach finds a NaN in the table whose
// low bits carry the same pattern, so the same test leaves it.
// ---------------------------------------------------------------------------------------------

constexpr int least_power = -37;
constexpr int most_power = 37;
constexpr double decimal_powers[most_power - least_power + 1] = {
    1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23,
    1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,
    1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,
    1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,
    1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37};

constexpr std::uint64_t dropped_bits = (std::uint64_t{1} << 29) - 1;
constexpr std::uint64_t halfway_bits = std::uint64_t{1} << 28;
// d's 29 low bits less (halfway - 4), cut to these bits, are zero for the eight patterns from four
// units below the halfway one to three above: the fields left.
constexpr std::uint64_t near_halfway_from = halfway_bits - 4;
constexpr std::uint64_t near_halfway_mask = dropped_bits & ~std::uint64_t{7};
constexpr std::uint64_t magnitude_bits = ~(std::uint64_t{1} << 63);
constexpr std::uint64_t two_to_53_bits = 0x4340'0000'0000'0000;  // the binary64 2^53
constexpr std::uint64_t one_bits = 0x3FF0'0000'0000'0000;         // the binary64 1
// A quiet NaN whose low bits are the halfway pattern: a field that meets it is left.
constexpr std::uint64_t left_nan_bits = 0x7FF8'0000'0000'0000 | halfway_bits;

// The signed power of ten each field's sign bits select, for fields of `Width`: the index is the
// written exponent's two digits' value E (0..99; up to 127 for a field that failed the layout),
// plus 128 when the exponent's sign is '-', plus 256 when the lead is. The decimal exponent is
// then k = ±E - (Width - 7): the entry is ± the binary64 nearest 10^k where every value of the
// field is a normal binary32, else the NaN.
constexpr std::size_t power_indices = 512;
template <std::size_t Width>
alignas(64) constexpr std::array<double, power_indices> powers_or_nan = [] {
  std::array<double, power_indices> table{};
  constexpr int fraction = static_cast<int>(Width - 7);
  for (std::size_t i = 0; i < power_indices; ++i) {
    const int written = static_cast<int>(i & 0x7F);
    const int k = ((i & 128) != 0 ? -written : written) - fraction;
    const bool in_reach = written <= 99 && k >= least_power && k + fraction + 1 <= most_power + 1;
    const double power = decimal_powers[in_reach ? k - least_power : 0];
    table[i] = !in_reach ? std::bit_cast<double>(left_nan_bits) : (i & 256) != 0 ? -power : power;
  }
  return table;
}();
static_assert(powers_or_nan<12>[5] == 1.0 && powers_or_nan<12>[37] == 1e32 && powers_or_nan<12>[128 + 32] == 1e-37);
static_assert(powers_or_nan<12>[38] != powers_or_nan<12>[38] && powers_or_nan<12>[128 + 33] != powers_or_nan<12>[128 + 33]);
static_assert(powers_or_nan<15>[128 + 0] == 1e-8 && powers_or_nan<15>[37] == 1e29 && powers_or_nan<15>[38] != powers_or_nan<15>[38]);
static_assert(powers_or_nan<15>[128 + 29] == 1e-37 && powers_or_nan<15>[128 + 30] != powers_or_nan<15>[128 + 30]);
static_assert(powers_or_nan<12>[256 + 5] == -1.0 && powers_or_nan<12>[256 + 128 + 32] == -1e-37);

template <std::size_t Width>
unsigned portable_line(const char* line, float* values) noexcept {
  unsigned done = 0;
  for (std::size_t k = 0; k < field_line_fields; ++k) {
    done |= static_cast<unsigned>(parse_single_lead_field<Width>(line + k * Width, values[k])) << k;
  }
  return done;
}

// Whether the line at `line` ends with a line feed right after its ten fields.
template <std::size_t Width>
bool ends_after_fields(const char* line) noexcept {
  return line[field_line_fields * Width] == '\n';
}

template <std::size_t Width>
std::size_t portable_lines(const char* text, std::size_t lines, float* values) noexcept {
  constexpr std::size_t stride = field_line_fields * Width + 1;
  std::size_t n = 0;
  for (; n < lines && ends_after_fields<Width>(text + n * stride); ++n) {
    if (portable_line<Width>(text + n * stride, values + n * field_line_fields) != field_line_all) break;
  }
  return n;
}

#if QUORVEL_LINE_VECTORS

// ---- The layout check: every byte of the line against the class its place allows ------------
//
// A byte's classes are the bits both nibble tables give it (looked up with byte shuffles); its
// place in the line allows some classes; a byte with none of them is wrong, and a line with a
// wrong byte goes to the portable kernel whole (a run of lines stops there instead, and leaves
// the line to the line parser).
enum ByteClass : std::uint8_t { digit = 1, lead = 2, point = 4, letter = 8, exponent_sign = 16 };

// By low nibble: ' ' and '0' (0x20, 0x30), '1'..'9', 'E' and 'e' with '5', '+', '-', '.'.
alignas(32) constexpr std::array<std::uint8_t, 32> classes_by_low = [] {
  std::array<std::uint8_t, 32> table{};
  for (std::size_t lane = 0; lane < 32; lane += 16) {
    for (std::size_t n = 0; n < 10; ++n) table[lane + n] = digit;
    table[lane + 0] |= lead;
    table[lane + 5] |= letter;
    table[lane + 0xB] = lead | exponent_sign;
    table[lane + 0xD] = lead | exponent_sign;
    table[lane + 0xE] = point;
  }
  return table;
}();
// By high nibble: 0x2_ (blank, signs, point), 0x3_ (digits), 0x4_ and 0x6_ (the letters).
alignas(32) constexpr std::array<std::uint8_t, 32> classes_by_high = [] {
  std::array<std::uint8_t, 32> table{};
  for (std::size_t lane = 0; lane < 32; lane += 16) {
    table[lane + 2] = lead | point | exponent_sign;
    table[lane + 3] = digit;
    table[lane + 4] = letter;
    table[lane + 6] = letter;
  }
  return table;
}();

// The class byte `at` of a line of fields of `Width` must have.
template <std::size_t Width>
constexpr std::uint8_t class_at(std::size_t at) {
  const std::size_t i = at % Width;
  if (i == 0) return lead;
  if (i == 2) return point;
  if (i == Width - 4) return letter;
  if (i == Width - 3) return exponent_sign;
  return digit;
}

// The places of `Size` bytes from byte `from` of the line.
template <std::size_t Width, std::size_t Size>
constexpr std::array<std::uint8_t, Size> classes_from(std::size_t from) {
  std::array<std::uint8_t, Size> allowed{};
  for (std::size_t i = 0; i < Size; ++i) allowed[i] = class_at<Width>(from + i);
  return allowed;
}

// The line in chunks of `Size` bytes: at 0, Size, 2·Size, ... and the last one ending with the line.
template <std::size_t Width, std::size_t Size>
struct Chunks {
  static constexpr std::size_t line = field_line_fields * Width;
  static constexpr std::size_t count = (line + Size - 1) / Size;
  static constexpr std::size_t start(std::size_t c) { return c + 1 == count ? line - Size : c * Size; }
  alignas(32) static constexpr std::array<std::array<std::uint8_t, Size>, count> allowed = [] {
    std::array<std::array<std::uint8_t, Size>, count> all{};
    for (std::size_t c = 0; c < count; ++c) all[c] = classes_from<Width, Size>(start(c));
    return all;
  }();
};

// ---- The digits: one byte shuffle a field ------------------------------------------------------
//
// A 16-byte window holds one field from its byte `s` (0, or 16 - Width for the last field of a
// line, loaded so that the window ends with the line). The window less '0' is shuffled into the
// significand's digits, right-aligned, in bytes 0..7 (for Width 15 the eight after the point, the
// first digit then in byte 11), the exponent's sign in byte 12, the lead in byte 13 and the
// exponent's digits in bytes 14, 15; every other byte zero. Of the signs only bit 2 is kept, which
// only '-' has among ' ', '+' and '-'. Pairs of bytes weighted (10, 1), then pairs of pairs (100,
// 1), give four 32-bit numbers: the significand's upper four digits H, its lower four L, the first
// digit D (Width 15, else 0), and E plus 128 for a minus exponent and 256 for a minus lead, which
// indexes powers_or_nan directly.
template <std::size_t Width>
constexpr std::array<std::uint8_t, 16> digit_shuffle(std::size_t s) {
  constexpr std::size_t fraction = Width - 7;
  std::array<std::uint8_t, 16> shuffle{};
  shuffle.fill(0x80);
  if constexpr (fraction == 8) {
    for (std::size_t i = 0; i < 8; ++i) shuffle[i] = static_cast<std::uint8_t>(s + 3 + i);
    shuffle[11] = static_cast<std::uint8_t>(s + 1);
  } else {
    const std::size_t first = 8 - (fraction + 1);
    shuffle[first] = static_cast<std::uint8_t>(s + 1);
    for (std::size_t i = 0; i < fraction; ++i) shuffle[first + 1 + i] = static_cast<std::uint8_t>(s + 3 + i);
  }
  shuffle[12] = static_cast<std::uint8_t>(s + Width - 3);
  shuffle[13] = static_cast<std::uint8_t>(s);
  shuffle[14] = static_cast<std::uint8_t>(s + Width - 2);
  shuffle[15] = static_cast<std::uint8_t>(s + Width - 1);
  return shuffle;
}

alignas(16) constexpr std::array<std::uint8_t, 16> kept_bits = [] {
  std::array<std::uint8_t, 16> keep{};
  keep.fill(0xFF);
  keep[12] = keep[13] = 0x04;
  return keep;
}();
// Weights of the byte pairs: digits (10, 1); the first digit (Width 15) by 1; the bits of the
// exponent's sign by 32 and of the lead by 64 (128 and 256 in E).
alignas(16) constexpr std::array<std::int8_t, 16> byte_weights = {10, 1, 10, 1, 10, 1, 10, 1, 0, 0, 0, 1, 32, 64, 10, 1};
// Weights of the 16-bit pairs: (100, 1) for H and L, (1, 1) for D and E.
alignas(16) constexpr std::array<std::int16_t, 8> pair_weights = {100, 1, 100, 1, 1, 1, 1, 1};

template <class T, std::size_t N>
constexpr std::array<T, 2 * N> twice(const std::array<T, N>& half) {
  std::array<T, 2 * N> both{};
  for (std::size_t i = 0; i < N; ++i) both[i] = both[N + i] = half[i];
  return both;
}

template <std::size_t Width>
struct Shuffles {
  alignas(16) static constexpr std::array<std::uint8_t, 16> normal = digit_shuffle<Width>(0);
  alignas(16) static constexpr std::array<std::uint8_t, 16> last = digit_shuffle<Width>(16 - Width);
};
alignas(32) constexpr std::array<std::uint8_t, 32> kept_bits_twice = twice(kept_bits);
alignas(32) constexpr std::array<std::int8_t, 32> byte_weights_twice = twice(byte_weights);
alignas(32) constexpr std::array<std::int16_t, 16> pair_weights_twice = twice(pair_weights);

// After the pack of two fields' four numbers to 16 bits, each 64-bit lane is one field: H in bits
// 0..15, L in 16..31, D in 32..47, and E with its signs (the power's index) in 48..63.
constexpr std::uint64_t index_bits = power_indices - 1;
constexpr std::uint64_t two_to_52_bits = 0x4330'0000'0000'0000;  // the binary64 2^52
// 10000 · H + L in the low 32 bits of each lane, 0 in the high ones.
constexpr std::uint64_t significand_weights = 0x0000'0000'0001'2710;

#define QUORVEL_LOAD16(array) _mm_load_si128(reinterpret_cast<const __m128i*>((array).data()))

// ---- 16-byte vectors ------------------------------------------------------------------------

#define QUORVEL_SSE41 gnu::target("sse4.1"), gnu::always_inline

// The classes of each byte of `chunk` that `allowed` lets it have: zero for a wrong byte.
[[QUORVEL_SSE41]] inline __m128i sse41_fitting_classes(const char* chunk, const std::uint8_t* allowed) noexcept {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i low = _mm_shuffle_epi8(QUORVEL_LOAD16(classes_by_low), _mm_and_si128(bytes, nibble));
  const __m128i high = _mm_shuffle_epi8(QUORVEL_LOAD16(classes_by_high), _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble));
  return _mm_and_si128(_mm_and_si128(low, high), _mm_load_si128(reinterpret_cast<const __m128i*>(allowed)));
}

// The least fitting classes of each byte place over the line's chunks: zero where a chunk has a
// wrong byte.
template <std::size_t Width, std::size_t... c>
[[QUORVEL_SSE41]] inline __m128i sse41_least_classes(const char* line, std::index_sequence<c...>) noexcept {
  using LineChunks = Chunks<Width, 16>;
  __m128i least = _mm_set1_epi8(-1);
  ((least = _mm_min_epu8(least, sse41_fitting_classes(line + LineChunks::start(c), LineChunks::allowed[c].data()))), ...);
  return least;
}

// The four numbers of the field in the window at `p`.
[[QUORVEL_SSE41]] inline __m128i sse41_field(const char* p, const std::array<std::uint8_t, 16>& shuffle) noexcept {
  const __m128i values = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8('0'));
  const __m128i placed = _mm_and_si128(_mm_shuffle_epi8(values, QUORVEL_LOAD16(shuffle)), QUORVEL_LOAD16(kept_bits));
  return _mm_madd_epi16(_mm_maddubs_epi16(placed, QUORVEL_LOAD16(byte_weights)), QUORVEL_LOAD16(pair_weights));
}

// The values of two fields (their numbers from sse41_field) into `out[0..1]`; gives the bits (1, 2)
// of the fields left to the per-field parse.
template <std::size_t Width>
[[QUORVEL_SSE41]] inline unsigned sse41_convert(__m128i first, __m128i second, float* out) noexcept {
  const __m128i packed = _mm_packus_epi32(first, second);
  __m128i significand = _mm_madd_epi16(packed, _mm_set1_epi64x(significand_weights));
  if constexpr (Width == 15) {
    const __m128i first_digit = _mm_and_si128(_mm_srli_epi64(packed, 32), _mm_set1_epi64x(0xF));
    significand = _mm_add_epi64(significand, _mm_mul_epu32(first_digit, _mm_set1_epi64x(100'000'000)));
  }
  const __m128d m = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(significand, _mm_set1_epi64x(two_to_52_bits))),
                               _mm_set1_pd(0x1p52));
  const __m128i index = _mm_srli_epi64(packed, 48);
  const double* powers = powers_or_nan<Width>.data();
  const __m128d power = _mm_loadh_pd(_mm_load_sd(powers + (_mm_cvtsi128_si64(index) & index_bits)),
                                     powers + (_mm_extract_epi64(index, 1) & index_bits));
  const __m128d product = _mm_mul_pd(m, power);
  const __m128i bits = _mm_castpd_si128(product);
  const __m128i near_halfway = _mm_cmpeq_epi64(
      _mm_and_si128(_mm_sub_epi64(bits, _mm_set1_epi64x(near_halfway_from)), _mm_set1_epi64x(near_halfway_mask)), _mm_setzero_si128());
  _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(product));
  auto left = static_cast<unsigned>(_mm_movemask_pd(_mm_castsi128_pd(near_halfway)));
  if (left != 0) [[unlikely]] {
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(magnitude_bits));
    const __m128d exact = _mm_and_pd(_mm_cmplt_pd(_mm_and_pd(product, magnitude), _mm_castsi128_pd(_mm_set1_epi64x(two_to_53_bits))),
                                     _mm_cmpge_pd(_mm_and_pd(power, magnitude), _mm_castsi128_pd(_mm_set1_epi64x(one_bits))));
    left &= ~static_cast<unsigned>(_mm_movemask_pd(exact));
  }
  return left;
}

// Whether every byte of the line has a class its place allows.
template <std::size_t Width>
[[QUORVEL_SSE41]] inline bool sse41_line_fits(const char* line) noexcept {
  using LineChunks = Chunks<Width, 16>;
  const __m128i fitting = sse41_least_classes<Width>(line, std::make_index_sequence<LineChunks::count>());
  return _mm_movemask_epi8(_mm_cmpeq_epi8(fitting, _mm_setzero_si128())) == 0;
}

// The values of a line that fits: the mask of those decided.
template <std::size_t Width>
[[QUORVEL_SSE41]] inline unsigned sse41_line_values(const char* line, float* values) noexcept {
  __m128i numbers[field_line_fields];
  for (std::size_t k = 0; k + 1 < field_line_fields; ++k) numbers[k] = sse41_field(line + k * Width, Shuffles<Width>::normal);
  numbers[9] = sse41_field(line + field_line_fields * Width - 16, Shuffles<Width>::last);
  unsigned left = 0;
  for (std::size_t k = 0; k < field_line_fields; k += 2) left |= sse41_convert<Width>(numbers[k], numbers[k + 1], values + k) << k;
  return ~left & field_line_all;
}

template <std::size_t Width>
[[gnu::target("sse4.1")]] unsigned sse41_line(const char* line, float* values) noexcept {
  if (!sse41_line_fits<Width>(line)) [[unlikely]] return portable_line<Width>(line, values);
  return sse41_line_values<Width>(line, values);
}

template <std::size_t Width>
[[gnu::target("sse4.1")]] std::size_t sse41_lines(const char* text, std::size_t lines, float* values) noexcept {
  constexpr std::size_t stride = field_line_fields * Width + 1;
  std::size_t n = 0;
  for (; n < lines && ends_after_fields<Width>(text + n * stride); ++n) {
    const char* line = text + n * stride;
    if (!sse41_line_fits<Width>(line)) break;
    if (sse41_line_values<Width>(line, values + n * field_line_fields) != field_line_all) break;
  }
  return n;
}

#undef QUORVEL_SSE41

#if QUORVEL_LINE_WIDE_VECTORS

// ---- 32-byte vectors: two fields a window pair, four a conversion ----------------------------

#define QUORVEL_AVX2 gnu::target("avx2"), gnu::always_inline
#define QUORVEL_LOAD32(array) _mm256_load_si256(reinterpret_cast<const __m256i*>((array).data()))

template <std::size_t Width>
struct ShufflePairs {
  alignas(32) static constexpr std::array<std::uint8_t, 32> normal = twice(Shuffles<Width>::normal);
  alignas(32) static constexpr std::array<std::uint8_t, 32> last = [] {
    std::array<std::uint8_t, 32> both = twice(Shuffles<Width>::normal);
    for (std::size_t i = 0; i < 16; ++i) both[16 + i] = Shuffles<Width>::last[i];
    return both;
  }();
};

[[QUORVEL_AVX2]] inline __m256i avx2_fitting_classes(const char* chunk, const std::uint8_t* allowed) noexcept {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk));
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_shuffle_epi8(QUORVEL_LOAD32(classes_by_low), _mm256_and_si256(bytes, nibble));
  const __m256i high =
      _mm256_shuffle_epi8(QUORVEL_LOAD32(classes_by_high), _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble));
  return _mm256_and_si256(_mm256_and_si256(low, high), _mm256_load_si256(reinterpret_cast<const __m256i*>(allowed)));
}

template <std::size_t Width, std::size_t... c>
[[QUORVEL_AVX2]] inline __m256i avx2_least_classes(const char* line, std::index_sequence<c...>) noexcept {
  using LineChunks = Chunks<Width, 32>;
  __m256i least = _mm256_set1_epi8(-1);
  ((least = _mm256_min_epu8(least, avx2_fitting_classes(line + LineChunks::start(c), LineChunks::allowed[c].data()))), ...);
  return least;
}

// Two fields, one a 16-byte lane (`low` in the lower).
[[QUORVEL_AVX2]] inline __m256i avx2_fields(const char* low, const char* high, const std::array<std::uint8_t, 32>& shuffle) noexcept {
  const __m256i bytes = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(high), reinterpret_cast<const __m128i*>(low));
  const __m256i values = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
  const __m256i placed = _mm256_and_si256(_mm256_shuffle_epi8(values, QUORVEL_LOAD32(shuffle)), QUORVEL_LOAD32(kept_bits_twice));
  return _mm256_madd_epi16(_mm256_maddubs_epi16(placed, QUORVEL_LOAD32(byte_weights_twice)), QUORVEL_LOAD32(pair_weights_twice));
}

// Four fields' values, in the order (first low, second low, first high, second high), into
// `out[0..3]`; gives the bits of those left to the per-field parse.
template <std::size_t Width>
[[QUORVEL_AVX2]] inline unsigned avx2_convert(__m256i first, __m256i second, float* out) noexcept {
  const __m256i packed = _mm256_packus_epi32(first, second);
  __m256i significand = _mm256_madd_epi16(packed, _mm256_set1_epi64x(significand_weights));
  if constexpr (Width == 15) {
    const __m256i first_digit = _mm256_and_si256(_mm256_srli_epi64(packed, 32), _mm256_set1_epi64x(0xF));
    significand = _mm256_add_epi64(significand, _mm256_mul_epu32(first_digit, _mm256_set1_epi64x(100'000'000)));
  }
  const __m256d m = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(significand, _mm256_set1_epi64x(two_to_52_bits))),
                                  _mm256_set1_pd(0x1p52));
  // E plus 128 for a negative exponent; four loads beat a gather on the processors measured.
  const __m256i index = _mm256_and_si256(_mm256_srli_epi64(packed, 48), _mm256_set1_epi64x(index_bits));
  const double* powers = powers_or_nan<Width>.data();
  const __m128i low_index = _mm256_castsi256_si128(index), high_index = _mm256_extracti128_si256(index, 1);
  const __m128d low_power = _mm_loadh_pd(_mm_load_sd(powers + _mm_cvtsi128_si64(low_index)), powers + _mm_extract_epi64(low_index, 1));
  const __m128d high_power = _mm_loadh_pd(_mm_load_sd(powers + _mm_cvtsi128_si64(high_index)), powers + _mm_extract_epi64(high_index, 1));
  const __m256d power = _mm256_set_m128d(high_power, low_power);
  const __m256d product = _mm256_mul_pd(m, power);
  const __m256i bits = _mm256_castpd_si256(product);
  const __m256i near_halfway = _mm256_cmpeq_epi64(
      _mm256_and_si256(_mm256_sub_epi64(bits, _mm256_set1_epi64x(near_halfway_from)), _mm256_set1_epi64x(near_halfway_mask)),
      _mm256_setzero_si256());
  _mm_storeu_ps(out, _mm256_cvtpd_ps(product));
  auto left = static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(near_halfway)));
  if (left != 0) [[unlikely]] {
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(magnitude_bits));
    const __m256d exact = _mm256_and_pd(
        _mm256_cmp_pd(_mm256_and_pd(product, magnitude), _mm256_castsi256_pd(_mm256_set1_epi64x(two_to_53_bits)), _CMP_LT_OQ),
        _mm256_cmp_pd(_mm256_and_pd(power, magnitude), _mm256_castsi256_pd(_mm256_set1_epi64x(one_bits)), _CMP_GE_OQ));
    left &= ~static_cast<unsigned>(_mm256_movemask_pd(exact));
  }
  return left;
}

// The least fitting classes of the line's bytes (see avx2_least_classes), and whether none is zero.
template <std::size_t Width>
[[QUORVEL_AVX2]] inline __m256i avx2_line_classes(const char* line) noexcept {
  return avx2_least_classes<Width>(line, std::make_index_sequence<Chunks<Width, 32>::count>());
}
[[QUORVEL_AVX2]] inline bool avx2_fits(__m256i least_classes) noexcept {
  return _mm256_movemask_epi8(_mm256_cmpeq_epi8(least_classes, _mm256_setzero_si256())) == 0;
}

// Fields 0..7 of a line that fits into values[0..7]; gives the bits of those left. Lanes are paired
// so that each conversion's output is four fields in order: (0 | 2), (1 | 3), then (4 | 6), (5 | 7).
template <std::size_t Width>
[[QUORVEL_AVX2]] inline unsigned avx2_first_eight(const char* line, float* values) noexcept {
  constexpr std::size_t W = Width;
  const auto& normal = ShufflePairs<Width>::normal;
  unsigned left = avx2_convert<Width>(avx2_fields(line, line + 2 * W, normal),
                                     avx2_fields(line + W, line + 3 * W, normal), values);
  left |= avx2_convert<Width>(avx2_fields(line + 4 * W, line + 6 * W, normal),
                              avx2_fields(line + 5 * W, line + 7 * W, normal), values + 4) << 4;
  return left;
}

// Fields 8 and 9 of a line, one a lane.
template <std::size_t Width>
[[QUORVEL_AVX2]] inline __m256i avx2_last_two(const char* line) noexcept {
  return avx2_fields(line + 8 * Width, line + 10 * Width - 16, ShufflePairs<Width>::last);
}

// The values of a line that fits: the mask of those decided. Its last two fields are converted
// with themselves (8, 8, 9, 9).
template <std::size_t Width>
[[QUORVEL_AVX2]] inline unsigned avx2_line_values(const char* line, float* values) noexcept {
  unsigned left = avx2_first_eight<Width>(line, values);
  const __m256i last = avx2_last_two<Width>(line);
  float tail[4];
  const unsigned tail_left = avx2_convert<Width>(last, last, tail);
  values[8] = tail[0];
  values[9] = tail[2];
  left |= (tail_left & 1u) << 8 | (tail_left & 4u) << 7;
  return ~left & field_line_all;
}

template <std::size_t Width>
[[gnu::target("avx2")]] unsigned avx2_line(const char* line, float* values) noexcept {
  if (!avx2_fits(avx2_line_classes<Width>(line))) [[unlikely]] return portable_line<Width>(line, values);
  return avx2_line_values<Width>(line, values);
}

// Two lines, `first` and the one right after it: whether every byte of both fits and every field
// was decided (when not, some values may be written and the lines are to be read one at a time).
// Their last two fields share the conversion one line fills only half of.
template <std::size_t Width>
[[QUORVEL_AVX2]] inline bool avx2_two_lines(const char* first, float* values) noexcept {
  const char* second = first + field_line_fields * Width + 1;
  if (!avx2_fits(_mm256_min_epu8(avx2_line_classes<Width>(first), avx2_line_classes<Width>(second)))) [[unlikely]] {
    return false;
  }
  unsigned left = avx2_first_eight<Width>(first, values) | avx2_first_eight<Width>(second, values + field_line_fields);
  float tail[4];  // 8 and 9 of the first line, 8 and 9 of the second
  left |= avx2_convert<Width>(avx2_last_two<Width>(first), avx2_last_two<Width>(second), tail);
  values[8] = tail[0];
  values[18] = tail[1];
  values[9] = tail[2];
  values[19] = tail[3];
  return left == 0;
}

template <std::size_t Width>
[[gnu::target("avx2")]] std::size_t avx2_lines(const char* text, std::size_t lines, float* values) noexcept {
  constexpr std::size_t stride = field_line_fields * Width + 1;
  std::size_t n = 0;
  for (; n + 1 < lines; n += 2) {
    const char* first = text + n * stride;
    if (!ends_after_fields<Width>(first) || !ends_after_fields<Width>(first + stride)) break;
    if (!avx2_two_lines<Width>(first, values + n * field_line_fields)) break;
  }
  for (; n < lines && ends_after_fields<Width>(text + n * stride); ++n) {
    const char* line = text + n * stride;
    if (!avx2_fits(avx2_line_classes<Width>(line))) break;
    if (avx2_line_values<Width>(line, values + n * field_line_fields) != field_line_all) break;
  }
  return n;
}

#undef QUORVEL_AVX2
#undef QUORVEL_LOAD32
#endif  // QUORVEL_LINE_WIDE_VECTORS
#undef QUORVEL_LOAD16
#endif  // QUORVEL_LINE_VECTORS

template <template <std::size_t> class Kernels>
FieldLineParsers of_width(std::size_t width) noexcept {
  switch (width) {
    case 11: return {Kernels<11>::line, Kernels<11>::lines};
    case 12: return {Kernels<12>::line, Kernels<12>::lines};
    case 13: return {Kernels<13>::line, Kernels<13>::lines};
    case 14: return {Kernels<14>::line, Kernels<14>::lines};
    case 15: return {Kernels<15>::line, Kernels<15>::lines};
    default: return {};
  }
}

template <std::size_t Width>
struct Portable {
  static constexpr FieldLineParser line = portable_line<Width>;
  static constexpr FieldLinesParser lines = portable_lines<Width>;
};
#if QUORVEL_LINE_VECTORS
template <std::size_t Width>
struct Sse41 {
  static constexpr FieldLineParser line = sse41_line<Width>;
  static constexpr FieldLinesParser lines = sse41_lines<Width>;
};
#endif
#if QUORVEL_LINE_WIDE_VECTORS
template <std::size_t Width>
struct Avx2 {
  static constexpr FieldLineParser line = avx2_line<Width>;
  static constexpr FieldLinesParser lines = avx2_lines<Width>;
};
#endif

field_line_detail::Kernel best_kernel() noexcept {
  using field_line_detail::Kernel;
  if (field_line_detail::available(Kernel::avx2)) return Kernel::avx2;
  if (field_line_detail::available(Kernel::sse41)) return Kernel::sse41;
  return Kernel::portable;
}

}  // namespace

namespace field_line_detail {

bool available(Kernel kernel) noexcept {
  switch (kernel) {
    case Kernel::portable: return true;
#if QUORVEL_LINE_VECTORS
    case Kernel::sse41: return __builtin_cpu_supports("sse4.1");
#endif
#if QUORVEL_LINE_WIDE_VECTORS
    case Kernel::avx2: return __builtin_cpu_supports("avx2");
#endif
    default: return false;
  }
}

FieldLineParsers parsers(Kernel kernel, std::size_t width) noexcept {
  if (!available(kernel)) return {};
  switch (kernel) {
#if QUORVEL_LINE_VECTORS
    case Kernel::sse41: return of_width<Sse41>(width);
#endif
#if QUORVEL_LINE_WIDE_VECTORS
    case Kernel::avx2: return of_width<Avx2>(width);
#endif
    default: return of_width<Portable>(width);
  }
}

}  // namespace field_line_detail

FieldLineParsers field_line_parsers(std::size_t width) noexcept {
  static const field_line_detail::Kernel chosen = best_kernel();
  return field_line_detail::parsers(chosen, width);
}

}  // namespace quorvel
