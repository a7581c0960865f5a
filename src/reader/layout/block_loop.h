#pragma once
// The value lines of one block, shared by every reader of plot files: the lines are read, the
// fields cut at multiples of the width, checked to end on a character boundary, and parsed.
// What becomes of a value, and how a defect ends the read, is the target's business:
//
//   target.read_value_line(lines, line)       the next value line into `line`, or a defect
//                                             (`lines`: a BasicLineReader)
//   target.may_take_line()                    whether the next value line may be taken from the
//                                             line reader's buffer directly (false while a line
//                                             read before is still to come)
//   target.took_value_line(text)              a value line of ten fields was so taken
//   target.line_values(j)                     optional: where values j.. go when every value is
//                                             kept in order; then whole lines are parsed there
//   target.took_value_lines(n)                and n value lines were so taken
//   target.wants(j)                           whether value j of the block is parsed and stored
//   target.store(j, value)                    value j of the block (values come in order)
//   target.field_out_of_bounds(j, start, end, line)   [[noreturn]] defects of field j
//   target.field_inside_char(j, start, end, line)
//   target.field_refused(j, start, field, error)

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "reader/lines/file_source.h"
#include "reader/lines/line_reader.h"
#include "reader/lines/line_scan.h"
#include "text/float/field_line.h"
#include "text/float/padded_field.h"
#include "text/float_parse.h"
#include "text/tokens.h"
#include "text/utf8.h"

namespace quorvel {

using LineReader = BasicLineReader<FileSource>;

inline constexpr std::uint64_t fields_per_line = 10;

// The line being looked at: a view into the line reader's buffer, or into `spill` for a line
// that spanned refills.
struct CurrentLine {
  std::string spill;
  std::string_view text;
};

namespace block_loop {

// Any field but the plot files' own layout: the general trim and parse, which give the same value
// for that layout too. Out of line, with its failure, so that the loop around the short path
// stays small.
template <class Target>
[[gnu::noinline]] float general_field_value(Target& target, std::uint64_t j, std::uint64_t start,
                                            const char* field, std::uint64_t width) {
  auto parsed = parse_float32(trim(std::string_view(field, width)));
  if (!parsed) target.field_refused(j, start, std::string_view(field, width), parsed.error());
  return *parsed;
}

template <class Target>
float field_value(Target& target, std::uint64_t j, std::uint64_t start, const char* field,
                  std::uint64_t width) {
  float value;
  if (width >= 10 && parse_padded_field(field, width, value)) [[likely]] return value;
  return general_field_value(target, j, start, field, width);
}

// The same for a width known when compiling, whose single-lead layout is tried first.
template <std::uint64_t Width, class Target>
float field_value(Target& target, std::uint64_t j, std::uint64_t start, const char* field) {
  float value;
  if (parse_single_lead_field<Width>(field, value)) [[likely]] return value;
  return field_value(target, j, start, field, Width);
}

// Fields are cut in increasing order from byte 0, so a field's start has already passed as the
// end of the field before.
template <class Target>
void check_field_end(Target& target, std::uint64_t j, std::uint64_t start, std::uint64_t end,
                     std::string_view line) {
  if (end > line.size()) target.field_out_of_bounds(j, start, end, line);
  // A continuation byte is the only kind that is not a boundary; the ASCII byte the line reader
  // keeps just past every line makes its end one without a separate test.
  if (is_continuation_byte(static_cast<unsigned char>(line.data()[end]))) {
    target.field_inside_char(j, start, end, line);
  }
}

// Ten values of a line, from value j of the block on.
template <class Target>
void store_line(Target& target, std::uint64_t j, const float* values) {
  if constexpr (requires { target.store_ten(j, values); }) {
    target.store_ten(j, values);
  } else {
    for (std::uint64_t k = 0; k < fields_per_line; ++k) {
      if (target.wants(j + k)) target.store(j + k, values[k]);
    }
  }
}

// Whether the target keeps any value of the line that starts at value j. A line of none is only
// passed over: taken from the buffer when its bytes are ASCII without a line feed (so every field
// ends on a boundary), else read and its fields' ends checked. The line parser would convert all
// ten values for nothing.
template <class Target>
bool wants_line(const Target& target, std::uint64_t j) {
  if constexpr (requires { target.wants_line(j); }) {
    return target.wants_line(j);
  } else {
    return true;
  }
}

// Whether the target keeps every value of a block in order, where whole lines can be parsed into.
template <class Target>
concept TakesWholeLines = requires(Target& target, std::uint64_t j) {
  { target.line_values(j) } -> std::same_as<float*>;
  target.took_value_lines(j);
};

struct WholeLines {
  std::uint64_t taken = 0;
  bool stopped = false;  // at a line the buffer holds whole, which the caller then reads as any other
};

// Whole value lines of ten fields, as many as the line reader's buffer holds and the block has,
// parsed straight into the target.
template <std::uint64_t Width, class Lines, class Target>
WholeLines take_whole_lines(Lines& lines, CurrentLine& line, std::uint64_t j, std::uint64_t count,
                            FieldLinesParser parse_lines, Target& target) {
  constexpr std::size_t length = fields_per_line * Width;
  if (!target.may_take_line()) return {};
  const std::uint64_t whole = std::min<std::uint64_t>((count - j) / fields_per_line, lines.whole_lines_ahead(length));
  if (whole == 0) return {};
  const std::size_t taken = parse_lines(lines.unread().data(), static_cast<std::size_t>(whole), target.line_values(j));
  if (taken != 0) {
    lines.take_lines_before_line_feeds(taken, length, line.text);
    target.took_value_lines(taken);
  }
  return {.taken = taken, .stopped = taken < whole};
}

// Whether `length` bytes are ASCII without a line feed.
inline bool plain_line(const char* bytes, std::size_t length) noexcept {
  const LineFeedScan scan = scan_to_line_feed(bytes, length);
  return scan.line_feed == length && scan.ascii;
}

// `Width` is the field width when it is fixed at compile time, else 0.
//
// With a width the plot files write, a line of ten fields goes to the line parser first
// (text/float/field_line.h), which reads the fields in their own layout at once; a target that
// keeps every value in order has as many whole lines as the buffer holds parsed into it in one
// call, and the line parser is left the lines that call stops at. When the line
// reader's buffer holds the line's bytes with a line feed right after them, the parser reads them
// there, before the line is read: if every field has the layout (ASCII, no line feed) they are
// the line, taken without looking for its end. Any field the parser leaves goes through the
// per-field parse, in order, with the same checks and messages as any other line.
template <std::uint64_t Width, class Lines, class Target>
void read_value_lines(Lines& lines, CurrentLine& line, std::uint64_t width, std::uint64_t count,
                      Target& target) {
  [[maybe_unused]] FieldLineParsers parsers;
  if constexpr (Width != 0) parsers = field_line_parsers(Width);
  [[maybe_unused]] const FieldLineParser parse_line = parsers.line;
  alignas(32) float values[field_line_room];
  std::uint64_t runs_from = 0;  // a run of whole lines stopped before value j: not tried again there
  for (std::uint64_t j = 0; j < count;) {
    const std::uint64_t fields = std::min(fields_per_line, count - j);
    unsigned done = 0;
    if constexpr (Width != 0) {
      if (fields == fields_per_line && !wants_line(target, j)) {
        constexpr std::size_t length = fields_per_line * Width;
        const char* ahead = target.may_take_line() ? lines.bytes_before_line_feed(length) : nullptr;
        if (ahead != nullptr && plain_line(ahead, length)) {
          lines.take_line_before_line_feed(length, line.text);
          target.took_value_line(line.text);
          j += fields_per_line;
          continue;
        }
        target.read_value_line(lines, line);
      } else if (fields == fields_per_line) {
        if constexpr (TakesWholeLines<Target>) {
          if (j >= runs_from) {
            const WholeLines run = take_whole_lines<Width>(lines, line, j, count, parsers.lines, target);
            j += run.taken * fields_per_line;
            if (run.stopped) runs_from = j + fields_per_line;
            if (run.taken != 0) continue;
          }
        }
        constexpr std::size_t length = fields_per_line * Width;
        const char* ahead = target.may_take_line() ? lines.bytes_before_line_feed(length) : nullptr;
        if (ahead != nullptr) {
          done = parse_line(ahead, values);
          if (done == field_line_all) [[likely]] {
            lines.take_line_before_line_feed(length, line.text);
            target.took_value_line(line.text);
            store_line(target, j, values);
            j += fields_per_line;
            continue;
          }
        }
        target.read_value_line(lines, line);
        // A line the parser saw ahead is these bytes when it is as long (a line feed among them
        // would have ended it sooner).
        if (line.text.size() < length) {
          done = 0;
        } else if (ahead == nullptr) {
          done = parse_line(line.text.data(), values);
        }
        if (done == field_line_all) {
          store_line(target, j, values);
          j += fields_per_line;
          continue;
        }
      } else {
        target.read_value_line(lines, line);
      }
    } else {
      target.read_value_line(lines, line);
    }
    // An ASCII line long enough for all its fields has every field end on a boundary.
    bool ends_checked = false;
    if constexpr (Width != 0) ends_checked = lines.line_known_ascii() && line.text.size() >= fields * Width;
    std::uint64_t start = 0;
    for (std::uint64_t k = 0; k < fields; ++k, ++j) {
      if (!ends_checked) check_field_end(target, j, start, start + width, line.text);
      if (target.wants(j)) {
        if constexpr (Width != 0) {
          target.store(j, (done >> k & 1u) != 0 ? values[k] : field_value<Width>(target, j, start, line.text.data() + start));
        } else {
          target.store(j, field_value(target, j, start, line.text.data() + start, width));
        }
      }
      start += width;
    }
  }
}

}  // namespace block_loop

// One block's value lines. The widths plot files are written with get a loop of their own; any
// other width is served too.
template <class Lines, class Target>
void read_block_values(Lines& lines, CurrentLine& line, std::uint64_t width, std::uint64_t count,
                       Target& target) {
  using block_loop::read_value_lines;
  switch (width) {
    case 11: return read_value_lines<11>(lines, line, width, count, target);
    case 12: return read_value_lines<12>(lines, line, width, count, target);
    case 13: return read_value_lines<13>(lines, line, width, count, target);
    case 14: return read_value_lines<14>(lines, line, width, count, target);
    case 15: return read_value_lines<15>(lines, line, width, count, target);
    default: return read_value_lines<0>(lines, line, width, count, target);
  }
}

}  // namespace quorvel
