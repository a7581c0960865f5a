#include "reader/targets/selection.h"

namespace quorvel {
namespace {

std::uint64_t resolve(const ColumnChoice& choice, std::size_t index, const std::vector<std::string>& names) {
  const std::uint64_t count = names.size();
  if (const auto* position = std::get_if<std::int64_t>(&choice)) {
    const std::int64_t at = *position < 0 ? *position + static_cast<std::int64_t>(count) : *position;
    if (at < 0 || static_cast<std::uint64_t>(at) >= count) throw SelectionError{.choice = index, .positions = {}, .parameters = count};
    return static_cast<std::uint64_t>(at);
  }
  const std::string& name = std::get<std::string>(choice);
  std::vector<std::uint64_t> found;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (names[i] == name) found.push_back(i);
  }
  if (found.size() != 1) throw SelectionError{.choice = index, .positions = std::move(found), .parameters = count};
  return found.front();
}

}  // namespace

Selection select_columns(const std::optional<std::vector<ColumnChoice>>& columns, std::vector<std::string> names) {
  Selection selection;
  if (!columns) {
    selection.names = std::move(names);
    return selection;
  }
  selection.everything = false;
  selection.slot_of_value.assign(names.size(), -1);
  for (std::size_t index = 0; index < columns->size(); ++index) {
    const std::uint64_t value = resolve((*columns)[index], index, names);
    const std::size_t slot = selection.names.size();
    if (selection.slot_of_value[value] < 0) {
      selection.slot_of_value[value] = static_cast<std::int64_t>(slot);
    } else {
      selection.copies.emplace_back(static_cast<std::size_t>(selection.slot_of_value[value]), slot);
    }
    selection.names.push_back(names[value]);
  }
  return selection;
}

}  // namespace quorvel
