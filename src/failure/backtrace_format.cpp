#include "failure/backtrace_format.h"

#include <array>
#include <charconv>
#include <optional>

namespace quorvel {
namespace {

// The failure is raised through this function; it and everything it calls are machinery.
constexpr std::array<std::string_view, 2> end_markers{"quorvel::fail", "quorvel::fail_non_unwinding"};
// The call guard runs the body through this function; it and its callers are the interpreter's.
constexpr std::string_view begin_marker = "quorvel::run_guarded_body";

constexpr std::string_view unknown_symbol = "<unknown>";
// "   0: " is 6 columns; the "at" lines sit 7 columns deeper than the names.
constexpr std::size_t index_columns = 6;
constexpr std::size_t at_line_extra_indent = 7;

bool is_end_marker(std::string_view name) noexcept {
  for (std::string_view marker : end_markers) {
    if (names_function(name, marker)) return true;
  }
  return false;
}

template <class Number>
void append_number(std::string& out, Number value, int base = 10) {
  std::array<char, 24> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value, base).ptr;
  out.append(digits.data(), end);
}

// One shown line of the walk: a symbol of a frame, or a frame about which nothing is known.
struct Entry {
  const platform::StackFrame* frame;
  const platform::SymbolInfo* symbol;  // null for an unknown frame
};

template <class Visit>
void for_each_entry(std::span<const platform::StackFrame> frames, Visit&& visit) {
  for (const platform::StackFrame& frame : frames) {
    if (frame.symbols.empty()) {
      if (!visit(Entry{&frame, nullptr})) return;
      continue;
    }
    for (const platform::SymbolInfo& symbol : frame.symbols) {
      if (!visit(Entry{&frame, &symbol})) return;
    }
  }
}

void append_entry(std::string& out, const Entry& entry, std::optional<std::size_t> index,
                  BacktraceForm form) {
  const std::size_t line_start = out.size();
  if (index) {
    const std::size_t number_start = out.size();
    append_number(out, *index);
    const std::size_t width = out.size() - number_start;
    if (width < 4) out.insert(number_start, 4 - width, ' ');
    out += ": ";
  } else {
    out.append(index_columns, ' ');
  }
  if (form == BacktraceForm::Full) {
    out += "0x";
    append_number(out, entry.frame->address, 16);
    out += " - ";
  }
  const std::size_t name_column = out.size() - line_start;
  const platform::SymbolInfo* symbol = entry.symbol;
  out += symbol != nullptr && !symbol->name.empty() ? std::string_view(symbol->name) : unknown_symbol;
  out += '\n';
  if (symbol != nullptr && !symbol->file.empty() && symbol->line != 0) {
    out.append(name_column + at_line_extra_indent, ' ');
    out += "at ";
    out += symbol->file;
    out += ':';
    append_number(out, symbol->line);
    if (symbol->column != 0) {
      out += ':';
      append_number(out, symbol->column);
    }
    out += '\n';
  }
}

}  // namespace

bool names_function(std::string_view symbol_name, std::string_view qualified_name) noexcept {
  std::size_t at = 0;
  if (!symbol_name.starts_with(qualified_name)) {
    // A function template's name is preceded by its return type and a space.
    const std::size_t found = symbol_name.find(qualified_name);
    if (found == std::string_view::npos || found == 0 || symbol_name[found - 1] != ' ') return false;
    if (symbol_name.substr(0, found).find('(') != std::string_view::npos) return false;
    at = found;
  }
  const std::string_view rest = symbol_name.substr(at + qualified_name.size());
  if (rest.empty()) return true;
  if (rest.front() != '(' && rest.front() != '<') return false;
  // "f(...)::{lambda()#1}::operator()" and the like are local to f, not f.
  return rest.find(")::") == std::string_view::npos;
}

std::string format_backtrace(std::span<const platform::StackFrame> frames, BacktraceForm form) {
  std::string out = "stack backtrace:\n";
  const bool short_form = form == BacktraceForm::Short;
  if (short_form && frames.size() > short_backtrace_frame_limit) {
    frames = frames.first(short_backtrace_frame_limit);
  }

  // In the short form, start after the last symbol of the machinery. Without that marker on
  // the stack, everything is shown.
  std::size_t position = 0;
  std::size_t first_shown = 0;
  if (short_form) {
    for_each_entry(frames, [&](const Entry& entry) {
      ++position;
      if (entry.symbol != nullptr && is_end_marker(entry.symbol->name)) {
        first_shown = position;
        return false;
      }
      return true;
    });
  }

  position = 0;
  std::size_t next_index = 0;
  const platform::StackFrame* indexed_frame = nullptr;
  for_each_entry(frames, [&](const Entry& entry) {
    if (position++ < first_shown) return true;
    if (short_form && entry.symbol != nullptr && names_function(entry.symbol->name, begin_marker)) {
      return false;
    }
    std::optional<std::size_t> index;
    if (entry.frame != indexed_frame) {
      index = next_index++;
      indexed_frame = entry.frame;
    }
    append_entry(out, entry, index, form);
    return true;
  });

  if (short_form) out += short_backtrace_note;
  return out;
}

}  // namespace quorvel
