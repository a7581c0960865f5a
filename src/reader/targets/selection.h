#pragma once
// Which values of a block a read keeps, and where in the row each goes: every parameter in file
// order, or those asked for by name or position, in the order asked (one asked for twice is
// parsed once and copied).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quorvel {

// A parameter asked for: by its name, or by its position (negative counts from the end).
using ColumnChoice = std::variant<std::string, std::int64_t>;

struct Selection {
  std::vector<std::int64_t> slot_of_value;                  // -1: not stored
  std::vector<std::pair<std::size_t, std::size_t>> copies;  // (from, to) slots within the row
  std::vector<std::string> names;                           // of the row's slots
  bool everything = true;  // every value, in file order: the slots above are left empty
};

// A choice the file cannot satisfy, as data: the caller words it (the array module words it as
// indexing a plot does).
struct SelectionError {
  std::size_t choice = 0;               // its index among the choices
  std::vector<std::uint64_t> positions;  // of the parameters a name names: none, or several
  std::uint64_t parameters = 0;          // how many the file has
};

// Throws SelectionError for the first choice that names no parameter, names several, or is a
// position outside the file's.
Selection select_columns(const std::optional<std::vector<ColumnChoice>>& columns, std::vector<std::string> names);

}  // namespace quorvel
