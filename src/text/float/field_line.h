#pragma once
// A whole value line of a plot file at once: ten fields of one width (11 to 15) at fixed offsets,
// each in the single-lead layout plot files write (a blank, '+' or '-', one digit, a point, Width
// - 7 digits, 'E', a sign and two digits: " 1.23456E+03", "-1.23456789E-07"). Every byte of the
// line is checked against the classes its place allows, a vector at a time, the digits become
// integers a register at a time, and the values are converted together, exactly (see
// field_line.cpp). A line with a byte out of place goes to the per-field parse of that layout; a
// field whose value the vector conversion cannot prove correctly rounded is left to the caller,
// which gives it to the per-field parse: the bits are the same either way. Runs of whole lines
// are parsed in one call, two lines at a time where they share a conversion.
//
// Three kernels give the same results: 32-byte vectors (x86-64 with AVX2, not on Windows, whose
// compiler cannot keep 32-byte stack slots aligned), 16-byte vectors (SSE4.1), and a portable
// one (the per-field parse of padded_field.h). The best the processor runs is chosen once, when
// the program runs.

#include <cstddef>

namespace quorvel {

inline constexpr std::size_t field_line_fields = 10;
inline constexpr unsigned field_line_all = (1u << field_line_fields) - 1;
// Room for the values a kernel writes: the ten, and two it may write past them.
inline constexpr std::size_t field_line_room = field_line_fields + 2;

// Reads the 10 · Width bytes at `line` (no byte past them) and gives a mask whose bit k says that
// field k had the layout and that `values[k]` is its value, the float32 nearest to its text (bit
// for bit what the general parse gives). `values` has room for field_line_room floats.
using FieldLineParser = unsigned (*)(const char* line, float* values) noexcept;

// Reads up to `lines` lines of ten fields and a line feed each, one after another from `text`
// (which holds all of their bytes), and stops at the first line whose line feed is elsewhere or
// that has a field the line parser would leave. Gives the number of lines read before it: their
// values are values[0 .. 10 · n), bit for bit the line parser's. It may write the values of the
// line it stopped at too, and nothing past them.
using FieldLinesParser = std::size_t (*)(const char* text, std::size_t lines, float* values) noexcept;

struct FieldLineParsers {
  FieldLineParser line = nullptr;
  FieldLinesParser lines = nullptr;
};

// The chosen kernel for `width` (11 to 15); null parsers for any other width.
FieldLineParsers field_line_parsers(std::size_t width) noexcept;

namespace field_line_detail {
enum class Kernel { portable, sse41, avx2 };
// Whether this build and processor run `kernel`; the portable one always runs.
bool available(Kernel kernel) noexcept;
// The kernel itself, for tests (null parsers when not available or for another width).
FieldLineParsers parsers(Kernel kernel, std::size_t width) noexcept;
}  // namespace field_line_detail

}  // namespace quorvel
