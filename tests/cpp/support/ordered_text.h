#pragma once
// A matcher for death-test output that holds given pieces in order, optionally as its very
// start and very end. Plain pieces rather than patterns: the regular expressions GoogleTest
// offers differ from one system to the next.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::test_support {

class OrderedText {
 public:
  using is_gtest_matcher = void;

  OrderedText(std::vector<std::string> pieces, bool anchored_start, bool anchored_end)
      : pieces_(std::move(pieces)), anchored_start_(anchored_start), anchored_end_(anchored_end) {}

  bool MatchAndExplain(const std::string& text, std::ostream*) const {
    std::size_t at = 0;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
      const std::string& piece = pieces_[i];
      const bool last = i + 1 == pieces_.size();
      std::size_t found = text.find(piece, at);
      if (last && anchored_end_) {
        if (text.size() < piece.size()) return false;
        found = text.size() - piece.size();
        if (found < at || text.compare(found, piece.size(), piece) != 0) return false;
      }
      if (found == std::string::npos || (i == 0 && anchored_start_ && found != 0)) return false;
      at = found + piece.size();
    }
    return true;
  }

  void DescribeTo(std::ostream* out) const { describe(out, "holds in order"); }
  void DescribeNegationTo(std::ostream* out) const { describe(out, "does not hold in order"); }

 private:
  void describe(std::ostream* out, const char* verb) const {
    *out << verb << (anchored_start_ ? " (from its start)" : "") << (anchored_end_ ? " (to its end)" : "") << ':';
    for (const auto& piece : pieces_) *out << " \"" << piece << '"';
  }

  std::vector<std::string> pieces_;
  bool anchored_start_;
  bool anchored_end_;
};

}  // namespace quorvel::test_support
