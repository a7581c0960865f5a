#pragma once
// The table of the list reader's failures (tests/failure_cases.txt), which the Python tests read
// too: compiled in by CMake as a string, parsed here.

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::test_support {

struct FailureCase {
  std::string name;
  std::uint64_t width = 0;
  std::string bytes;
  std::string message;
};

// gtest names a failing case by this rather than by a dump of its bytes.
inline void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

inline constexpr std::string_view failure_cases_table =
#include "failure_cases.inc"
    ;

// \n \r \t \\ and \xHH; any other byte stands for itself.
inline std::string unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += kind == 'n' ? '\n' : kind == 'r' ? '\r' : kind == 't' ? '\t' : kind;
    }
  }
  return out;
}

inline std::vector<FailureCase> failure_cases() {
  std::vector<FailureCase> cases;
  std::string_view rest = failure_cases_table;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields.size() != 4) throw std::runtime_error("a failure case without four fields: " + std::string(line));
    cases.push_back({std::string(fields[0]), std::stoull(std::string(fields[1])), unescaped(fields[2]),
                     std::string(fields[3])});
  }
  return cases;
}

}  // namespace quorvel::test_support
