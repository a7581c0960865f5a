#pragma once
// A defect of a plot file as the array readers report it: what is wrong, and where. Every reader
// of the array module words its defects with the helpers here, so that a ranged or parallel read
// says exactly what the whole read says.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/io_error.h"

namespace quorvel {

// A defect of the file, at a 1-based line and, where it lies in a field, 1-based byte column.
struct PlotDefect {
  std::string reason;
  std::uint64_t line = 0;
  std::optional<std::uint64_t> column;
};

[[noreturn]] void defect(std::string reason, std::uint64_t line, std::optional<std::uint64_t> column = std::nullopt);

// Field `field` (1 to 10, as the line shows it) would span bytes `start` + 1 to `end` of a line
// of `line_size` bytes.
[[noreturn]] void field_beyond_line(std::uint64_t field, std::uint64_t start, std::uint64_t end,
                                    std::uint64_t line_size, std::uint64_t line);

// A line the line reader could not give: not UTF-8, or a failing read.
[[noreturn]] void line_unreadable(const IoError& error, std::uint64_t line);

// The text quoted, or its first bytes (whole characters) quoted, then "… (N bytes)".
std::string quoted_excerpt(std::string_view text);

// 1048576 as "1,048,576".
std::string grouped(std::uint64_t number);

}  // namespace quorvel
