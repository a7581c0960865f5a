#include "text/float/field_line.h"

#include <array>
#include <cstdint>
#include <limits>

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
// A field gives a significand m (its 1 + F digits, F = Width - 7: m < 10^9 < 2^53) and a decimal
// exponent k (the written exponent less F). For |k| <= 22, 10^|k| is an exact binary64 value, and
// m is one too; d = m · 10^k (k >= 0) or m / 10^-k (k < 0) is then one correctly rounded binary64
// operation on exact operands. Every non-zero d lies between 10^-22 and 10^9 · 10^22, inside the
// normal binary32 range, where every point halfway between two adjacent binary32 values is a
// binary64 value whose 29 low significand bits read 1 and then zeros. Rounding is monotonic, so
// when d is not such a point, d lies strictly on the same side of every halfway point as the
// exact value, and narrowing d to binary32 (rounding to nearest, ties to even) gives the binary32
// nearest to the exact value: the correctly rounded result (fast_path.h argues the same for the
// per-field parse). The kernels therefore leave to the per-field parse every field whose d has
// that pattern, unless d is an exact product (k >= 0 and d < 2^53: the product of integers is an
// integer, and one that rounds below 2^53 was below it, so exact; narrowing then rounds the value
// itself once, ties to even), and every field with |k| > 22 (the
// table below holds NaN there, which marks the field). Zero gives 0 and keeps its sign: -0 times
// or over a positive power is -0. The sign is applied to d, which rounding treats symmetrically.
// ---------------------------------------------------------------------------------------------

// The power of ten each field's exponent bits select, for fields of `Width`: the index is the
// written exponent's two digits' value E (0..99; up to 127 for a field that failed the layout),
// plus 128 when its sign is '-'. The decimal exponent is then k = ±E - (Width - 7): the entry is
// 10^k for 0 <= k <= 22, -10^-k for -22 <= k < 0 (the sign chooses the division), NaN elsewhere.
constexpr int exact_power = 22;
template <std::size_t Width>
alignas(64) constexpr std::array<double, 256> powers_or_nan = [] {
  std::array<double, 256> table{};
  for (int i = 0; i < 256; ++i) {
    const int written = i & 0x7F;
    const int k = (i >= 128 ? -written : written) - static_cast<int>(Width - 7);
    const int magnitude = k < 0 ? -k : k;
    if (written > 99 || magnitude > exact_power) {
      table[static_cast<std::size_t>(i)] = std::numeric_limits<double>::quiet_NaN();
      continue;
    }
    double power = 1.0;
    for (int e = 0; e < magnitude; ++e) power *= 10.0;  // exact up to 10^22
    table[static_cast<std::size_t>(i)] = k < 0 ? -power : power;
  }
  return table;
}();
static_assert(powers_or_nan<12>[27] == 1e22 && powers_or_nan<12>[128 + 17] == -1e22 && powers_or_nan<12>[5] == 1.0);
static_assert(powers_or_nan<15>[128 + 0] == -1e8 && powers_or_nan<15>[31] != powers_or_nan<15>[31]);

template <std::size_t Width>
unsigned portable_line(const char* line, float* values) noexcept {
  unsigned done = 0;
  for (std::size_t k = 0; k < field_line_fields; ++k) {
    done |= static_cast<unsigned>(parse_single_lead_field<Width>(line + k * Width, values[k])) << k;
  }
  return done;
}

#if QUORVEL_LINE_VECTORS

// The constants of a 16-byte window whose field starts at byte `s` of the window (0, or 16 - Width
// for the last field of a line, loaded so that the window ends with the line).
//
// Check: a byte is right when it is a digit where a digit belongs, or equals one of `minus`,
// `plus`, `blank` at its place (each of those holds '0' at digit places, which only a digit
// matches). `expected` has the bits of the field's bytes, for a byte mask of the rights.
//
// Digits: the window less '0' is shuffled into eight significand digits, right-aligned, in bytes
// 0..7 (for Width 15 the eight after the point, the first digit then in byte 11), and the exponent
// digits in bytes 14, 15; every other byte zero. Pairs weighted 10 and 1, then pairs of pairs 100
// and 1, give four 32-bit numbers: the significand's upper four digits H, its lower four L, the
// first digit D (Width 15, else 0) and the exponent's magnitude E.
// Signs: the bytes equal to `minus` (0xFF where the lead or the exponent sign is '-') are shuffled
// to byte 9 (the lead's) and 12 (the exponent's) and masked: a minus sign adds 0x400 to D, a
// negative exponent 0x80 to E, which then indexes powers_or_nan directly.
struct Window {
  alignas(16) std::array<std::uint8_t, 16> minus{};
  alignas(16) std::array<std::uint8_t, 16> plus{};
  alignas(16) std::array<std::uint8_t, 16> blank{};
  alignas(16) std::array<std::uint8_t, 16> digits{};
  alignas(16) std::array<std::uint8_t, 16> shuffle{};
  alignas(16) std::array<std::uint8_t, 16> signs{};
  std::uint32_t expected = 0;
};

template <std::size_t Width>
constexpr Window window_at(std::size_t s) {
  constexpr std::size_t fraction = Width - 7;
  Window w;
  for (std::size_t i = 0; i < 16; ++i) {
    w.minus[i] = w.plus[i] = w.blank[i] = '0';
    w.shuffle[i] = w.signs[i] = 0x80;
  }
  const std::size_t lead = s, point = s + 2, letter = s + Width - 4, sign = s + Width - 3;
  w.minus[lead] = '-', w.plus[lead] = '+', w.blank[lead] = ' ';
  for (std::size_t at : {point, letter}) w.minus[at] = w.plus[at] = w.blank[at] = at == point ? '.' : 'E';
  w.minus[sign] = '-', w.plus[sign] = '+', w.blank[sign] = '+';
  w.digits[s + 1] = 0xFF;
  for (std::size_t i = 0; i < fraction; ++i) w.digits[s + 3 + i] = 0xFF;
  w.digits[s + Width - 2] = w.digits[s + Width - 1] = 0xFF;
  for (std::size_t i = s; i < s + Width; ++i) w.expected |= 1u << i;
  if constexpr (fraction == 8) {
    for (std::size_t i = 0; i < 8; ++i) w.shuffle[i] = static_cast<std::uint8_t>(s + 3 + i);
    w.shuffle[11] = static_cast<std::uint8_t>(s + 1);
  } else {
    const std::size_t first = 8 - (fraction + 1);
    w.shuffle[first] = static_cast<std::uint8_t>(s + 1);
    for (std::size_t i = 0; i < fraction; ++i) w.shuffle[first + 1 + i] = static_cast<std::uint8_t>(s + 3 + i);
  }
  w.shuffle[14] = static_cast<std::uint8_t>(s + Width - 2);
  w.shuffle[15] = static_cast<std::uint8_t>(s + Width - 1);
  w.signs[9] = static_cast<std::uint8_t>(lead);
  w.signs[12] = static_cast<std::uint8_t>(sign);
  return w;
}

template <std::size_t Width>
struct Windows {
  static constexpr Window normal = window_at<Width>(0);
  static constexpr Window last = window_at<Width>(16 - Width);
};

// After the pack of two fields' four numbers to 16 bits, each 64-bit lane is one field: H in bits
// 0..15, L in 16..31, D (with the lead's minus at bit 42) in 32..47, E (with the exponent's minus
// at bit 55) in 48..63.
constexpr std::uint64_t lead_minus_bit = std::uint64_t{1} << 42;
constexpr int lead_minus_shift = 63 - 42;
constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;
constexpr std::uint64_t two_to_52_bits = 0x4330'0000'0000'0000;  // the binary64 2^52
constexpr std::uint64_t dropped_bits = (std::uint64_t{1} << 29) - 1;
constexpr std::uint64_t halfway_bits = std::uint64_t{1} << 28;

// ---- 16-byte vectors: one field a window, two fields a conversion --------------------------

#define QUORVEL_SSE41 gnu::target("sse4.1"), gnu::always_inline
#define QUORVEL_LOAD16(array) _mm_load_si128(reinterpret_cast<const __m128i*>((array).data()))

// The four numbers of the field in the window at `p`; `bad` gets the bits of its wrong bytes.
template <std::size_t Width>
[[QUORVEL_SSE41]] inline __m128i sse41_field(const char* p, const Window& w, std::uint32_t& bad) noexcept {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i digits = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values), QUORVEL_LOAD16(w.digits));
  const __m128i minus = _mm_cmpeq_epi8(bytes, QUORVEL_LOAD16(w.minus));
  const __m128i right = _mm_or_si128(_mm_or_si128(digits, minus),
                                     _mm_or_si128(_mm_cmpeq_epi8(bytes, QUORVEL_LOAD16(w.plus)),
                                                  _mm_cmpeq_epi8(bytes, QUORVEL_LOAD16(w.blank))));
  bad = ~static_cast<std::uint32_t>(_mm_movemask_epi8(right)) & w.expected;
  const __m128i pairs = _mm_maddubs_epi16(_mm_shuffle_epi8(values, QUORVEL_LOAD16(w.shuffle)), _mm_set1_epi16(0x010A));
  const __m128i numbers = _mm_madd_epi16(pairs, _mm_set1_epi32(0x0001'0064));
  const __m128i signs = _mm_and_si128(_mm_shuffle_epi8(minus, QUORVEL_LOAD16(w.signs)), _mm_set_epi32(0x80, 0x400, 0, 0));
  return _mm_add_epi32(numbers, signs);
}

// The values of two fields (their numbers from sse41_field) into `out[0..1]`; gives the bits (1, 2)
// of the fields whose value is not proven exact.
template <std::size_t Width>
[[QUORVEL_SSE41]] inline unsigned sse41_convert(__m128i first, __m128i second, float* out) noexcept {
  const __m128i packed = _mm_packus_epi32(first, second);
  __m128i significand = _mm_madd_epi16(packed, _mm_set1_epi64x(0x0000'0000'0001'2710));  // 10000·H + L
  if constexpr (Width == 15) {
    const __m128i first_digit = _mm_and_si128(_mm_srli_epi64(packed, 32), _mm_set1_epi64x(0xF));
    significand = _mm_add_epi64(significand, _mm_mul_epu32(first_digit, _mm_set1_epi64x(100'000'000)));
  }
  const __m128d m = _mm_sub_pd(_mm_castsi128_pd(_mm_or_si128(significand, _mm_set1_epi64x(two_to_52_bits))),
                               _mm_set1_pd(0x1p52));
  const __m128i index = _mm_srli_epi64(packed, 48);  // E plus 128 for a negative exponent
  const double* powers = powers_or_nan<Width>.data();
  const __m128d power = _mm_set_pd(powers[_mm_extract_epi64(index, 1) & 0xFF], powers[_mm_cvtsi128_si64(index) & 0xFF]);
  const __m128d product = _mm_mul_pd(m, power);
  const __m128d rounded = _mm_blendv_pd(product, _mm_div_pd(m, power), power);  // a negative power divides
  // A product below 2^53 is exact: a halfway point there is the value itself, which narrowing rounds.
  const __m128d exact = _mm_blendv_pd(_mm_cmplt_pd(product, _mm_set1_pd(0x1p53)), _mm_setzero_pd(), power);
  const __m128i bits = _mm_or_si128(_mm_andnot_si128(_mm_set1_epi64x(static_cast<long long>(sign_bit)), _mm_castpd_si128(rounded)),
                                    _mm_slli_epi64(_mm_and_si128(packed, _mm_set1_epi64x(lead_minus_bit)), lead_minus_shift));
  const __m128d value = _mm_castsi128_pd(bits);
  const __m128i halfway = _mm_cmpeq_epi64(_mm_and_si128(bits, _mm_set1_epi64x(dropped_bits)), _mm_set1_epi64x(halfway_bits));
  const int unproven =
      _mm_movemask_pd(_mm_or_pd(_mm_andnot_pd(exact, _mm_castsi128_pd(halfway)), _mm_cmpunord_pd(value, value)));
  _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(value));
  return static_cast<unsigned>(unproven);
}

template <std::size_t Width>
[[gnu::target("sse4.1")]] unsigned sse41_line(const char* line, float* values) noexcept {
  const Window& normal = Windows<Width>::normal;
  std::array<std::uint32_t, field_line_fields> bad;
  __m128i numbers[field_line_fields];
  for (std::size_t k = 0; k + 1 < field_line_fields; ++k) numbers[k] = sse41_field<Width>(line + k * Width, normal, bad[k]);
  numbers[9] = sse41_field<Width>(line + field_line_fields * Width - 16, Windows<Width>::last, bad[9]);
  unsigned failed = 0;
  for (std::size_t k = 0; k < field_line_fields; k += 2) {
    failed |= sse41_convert<Width>(numbers[k], numbers[k + 1], values + k) << k;
  }
  std::uint32_t any_bad = 0;
  for (std::uint32_t b : bad) any_bad |= b;
  if (any_bad != 0) [[unlikely]] {
    for (std::size_t k = 0; k < field_line_fields; ++k) failed |= static_cast<unsigned>(bad[k] != 0) << k;
  }
  return ~failed & field_line_all;
}

#undef QUORVEL_SSE41

#if QUORVEL_LINE_WIDE_VECTORS

// ---- 32-byte vectors: two fields a window pair, four a conversion ----------------------------

#define QUORVEL_AVX2 gnu::target("avx2"), gnu::always_inline

// Two windows side by side, one a 16-byte lane.
struct WindowPair {
  alignas(32) std::array<std::uint8_t, 32> minus{};
  alignas(32) std::array<std::uint8_t, 32> plus{};
  alignas(32) std::array<std::uint8_t, 32> blank{};
  alignas(32) std::array<std::uint8_t, 32> digits{};
  alignas(32) std::array<std::uint8_t, 32> shuffle{};
  alignas(32) std::array<std::uint8_t, 32> signs{};
  std::uint32_t expected = 0;
};

constexpr std::array<std::uint8_t, 32> side_by_side(const std::array<std::uint8_t, 16>& low,
                                                    const std::array<std::uint8_t, 16>& high) {
  std::array<std::uint8_t, 32> both{};
  for (std::size_t i = 0; i < 16; ++i) both[i] = low[i], both[16 + i] = high[i];
  return both;
}

constexpr WindowPair pair_of(const Window& low, const Window& high) {
  WindowPair pair;
  pair.minus = side_by_side(low.minus, high.minus);
  pair.plus = side_by_side(low.plus, high.plus);
  pair.blank = side_by_side(low.blank, high.blank);
  pair.digits = side_by_side(low.digits, high.digits);
  pair.shuffle = side_by_side(low.shuffle, high.shuffle);
  pair.signs = side_by_side(low.signs, high.signs);
  pair.expected = low.expected | high.expected << 16;
  return pair;
}

template <std::size_t Width>
struct WindowPairs {
  static constexpr WindowPair normal = pair_of(Windows<Width>::normal, Windows<Width>::normal);
  static constexpr WindowPair last = pair_of(Windows<Width>::normal, Windows<Width>::last);
};

#define QUORVEL_LOAD32(array) _mm256_load_si256(reinterpret_cast<const __m256i*>((array).data()))

// Two fields, one a 16-byte lane (`low` in the lower).
[[QUORVEL_AVX2]] inline __m256i avx2_fields(const char* low, const char* high, const WindowPair& w,
                                            std::uint32_t& bad) noexcept {
  const __m256i bytes = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(high), reinterpret_cast<const __m128i*>(low));
  const __m256i values = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
  const __m256i digits =
      _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(values, _mm256_set1_epi8(9)), values), QUORVEL_LOAD32(w.digits));
  const __m256i minus = _mm256_cmpeq_epi8(bytes, QUORVEL_LOAD32(w.minus));
  const __m256i right = _mm256_or_si256(_mm256_or_si256(digits, minus),
                                        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, QUORVEL_LOAD32(w.plus)),
                                                        _mm256_cmpeq_epi8(bytes, QUORVEL_LOAD32(w.blank))));
  bad = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(right)) & w.expected;
  const __m256i pairs = _mm256_maddubs_epi16(_mm256_shuffle_epi8(values, QUORVEL_LOAD32(w.shuffle)), _mm256_set1_epi16(0x010A));
  const __m256i numbers = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x0001'0064));
  const __m256i signs = _mm256_and_si256(_mm256_shuffle_epi8(minus, QUORVEL_LOAD32(w.signs)),
                                         _mm256_set_epi32(0x80, 0x400, 0, 0, 0x80, 0x400, 0, 0));
  return _mm256_add_epi32(numbers, signs);
}

// Four fields' values, in the order (first low, second low, first high, second high), into
// `out[0..3]`; gives the bits of those not proven exact.
template <std::size_t Width>
[[QUORVEL_AVX2]] inline unsigned avx2_convert(__m256i first, __m256i second, float* out) noexcept {
  const __m256i packed = _mm256_packus_epi32(first, second);
  __m256i significand = _mm256_madd_epi16(packed, _mm256_set1_epi64x(0x0000'0000'0001'2710));  // 10000·H + L
  if constexpr (Width == 15) {
    const __m256i first_digit = _mm256_and_si256(_mm256_srli_epi64(packed, 32), _mm256_set1_epi64x(0xF));
    significand = _mm256_add_epi64(significand, _mm256_mul_epu32(first_digit, _mm256_set1_epi64x(100'000'000)));
  }
  const __m256d m = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(significand, _mm256_set1_epi64x(two_to_52_bits))),
                                  _mm256_set1_pd(0x1p52));
  const __m256i index = _mm256_srli_epi64(packed, 48);  // E plus 128 for a negative exponent
  const __m256d power = _mm256_i64gather_pd(powers_or_nan<Width>.data(), _mm256_and_si256(index, _mm256_set1_epi64x(0xFF)), 8);
  const __m256d product = _mm256_mul_pd(m, power);
  const __m256d rounded = _mm256_blendv_pd(product, _mm256_div_pd(m, power), power);  // a negative power divides
  const __m256d exact = _mm256_blendv_pd(_mm256_cmp_pd(product, _mm256_set1_pd(0x1p53), _CMP_LT_OQ), _mm256_setzero_pd(), power);
  const __m256i bits =
      _mm256_or_si256(_mm256_andnot_si256(_mm256_set1_epi64x(static_cast<long long>(sign_bit)), _mm256_castpd_si256(rounded)),
                      _mm256_slli_epi64(_mm256_and_si256(packed, _mm256_set1_epi64x(lead_minus_bit)), lead_minus_shift));
  const __m256d value = _mm256_castsi256_pd(bits);
  const __m256i halfway = _mm256_cmpeq_epi64(_mm256_and_si256(bits, _mm256_set1_epi64x(dropped_bits)),
                                             _mm256_set1_epi64x(halfway_bits));
  const int unproven = _mm256_movemask_pd(
      _mm256_or_pd(_mm256_andnot_pd(exact, _mm256_castsi256_pd(halfway)), _mm256_cmp_pd(value, value, _CMP_UNORD_Q)));
  _mm_storeu_ps(out, _mm256_cvtpd_ps(value));
  return static_cast<unsigned>(unproven);
}

template <std::size_t Width>
[[gnu::target("avx2")]] unsigned avx2_line(const char* line, float* values) noexcept {
  const WindowPair& normal = WindowPairs<Width>::normal;
  const WindowPair& last = WindowPairs<Width>::last;
  constexpr std::size_t W = Width;
  std::uint32_t bad[5];
  // Lanes paired so that each conversion's output is four fields in order: (0 | 2), (1 | 3) and
  // (4 | 6), (5 | 7); then (8 | 9), converted with itself.
  const __m256i f02 = avx2_fields(line, line + 2 * W, normal, bad[0]);
  const __m256i f13 = avx2_fields(line + W, line + 3 * W, normal, bad[1]);
  const __m256i f46 = avx2_fields(line + 4 * W, line + 6 * W, normal, bad[2]);
  const __m256i f57 = avx2_fields(line + 5 * W, line + 7 * W, normal, bad[3]);
  const __m256i f89 = avx2_fields(line + 8 * W, line + 10 * W - 16, last, bad[4]);
  unsigned failed = avx2_convert<Width>(f02, f13, values);
  failed |= avx2_convert<Width>(f46, f57, values + 4) << 4;
  float tail[4];
  const unsigned tail_failed = avx2_convert<Width>(f89, f89, tail);  // 8, 8, 9, 9
  values[8] = tail[0];
  values[9] = tail[2];
  failed |= (tail_failed & 1u) << 8 | (tail_failed & 4u) << 7;
  if ((bad[0] | bad[1] | bad[2] | bad[3] | bad[4]) != 0) [[unlikely]] {
    constexpr unsigned low_field[5] = {0, 1, 4, 5, 8}, high_field[5] = {2, 3, 6, 7, 9};
    for (std::size_t i = 0; i < 5; ++i) {
      failed |= static_cast<unsigned>((bad[i] & 0xFFFFu) != 0) << low_field[i];
      failed |= static_cast<unsigned>((bad[i] >> 16) != 0) << high_field[i];
    }
  }
  return ~failed & field_line_all;
}

#undef QUORVEL_AVX2
#undef QUORVEL_LOAD32
#endif  // QUORVEL_LINE_WIDE_VECTORS
#undef QUORVEL_LOAD16
#endif  // QUORVEL_LINE_VECTORS

template <template <std::size_t> class Kernels>
FieldLineParser of_width(std::size_t width) noexcept {
  switch (width) {
    case 11: return Kernels<11>::parse;
    case 12: return Kernels<12>::parse;
    case 13: return Kernels<13>::parse;
    case 14: return Kernels<14>::parse;
    case 15: return Kernels<15>::parse;
    default: return nullptr;
  }
}

template <std::size_t Width>
struct Portable {
  static constexpr FieldLineParser parse = portable_line<Width>;
};
#if QUORVEL_LINE_VECTORS
template <std::size_t Width>
struct Sse41 {
  static constexpr FieldLineParser parse = sse41_line<Width>;
};
#endif
#if QUORVEL_LINE_WIDE_VECTORS
template <std::size_t Width>
struct Avx2 {
  static constexpr FieldLineParser parse = avx2_line<Width>;
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

FieldLineParser parser(Kernel kernel, std::size_t width) noexcept {
  if (!available(kernel)) return nullptr;
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

FieldLineParser field_line_parser(std::size_t width) noexcept {
  static const field_line_detail::Kernel chosen = best_kernel();
  return field_line_detail::parser(chosen, width);
}

}  // namespace quorvel
