#pragma once
// A sink that stands in for a standard stream in tests: it records every write request and the
// bytes it accepted, and answers from a script (then accepts everything).

#include <algorithm>
#include <cstddef>
#include <deque>
#include <expected>
#include <string>
#include <variant>
#include <vector>

#include "console/raw_sink.h"

namespace quorvel::test_support {

struct Accept {
  std::size_t at_most;
};

class RecordingSink final : public RawSink {
 public:
  using Answer = std::variant<Accept, IoError>;

  std::vector<std::string> requests;  // what each write call was offered
  std::string output;                 // what was accepted, in order
  std::deque<Answer> script;

  std::expected<std::size_t, IoError> write(std::span<const char> bytes) override {
    requests.emplace_back(bytes.data(), bytes.size());
    std::size_t take = bytes.size();
    if (!script.empty()) {
      const Answer answer = script.front();
      script.pop_front();
      if (const auto* error = std::get_if<IoError>(&answer)) return std::unexpected(*error);
      take = std::min(take, std::get<Accept>(answer).at_most);
    }
    output.append(bytes.data(), take);
    return take;
  }
};

}  // namespace quorvel::test_support
