#pragma once
// The parameter count a plot file's first line ends with, as both readers read it.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "text/tokens.h"
#include "text/unsigned_parse.h"

namespace quorvel {

struct HeaderCount {
  std::optional<std::string_view> last_token;  // nothing: the line holds no token
  std::optional<std::uint64_t> count;          // nothing: no valid count
};

// The header's last token is the parameter count. A count of 0 cannot describe a block (there
// would be no time column), so it is refused like a count that is not a number.
inline HeaderCount header_count(std::string_view header) {
  const std::vector<std::string_view> tokens = whitespace_tokens(header);
  if (tokens.empty()) return {};
  std::optional<std::uint64_t> count = parse_unsigned_decimal(tokens.back());
  if (count == 0u) count.reset();
  return {.last_token = tokens.back(), .count = count};
}

}  // namespace quorvel
