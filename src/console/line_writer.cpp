#include "console/line_writer.h"

#include <cstring>

namespace quorvel {

std::expected<void, IoError> LineWriter::write_all(std::string_view text) {
  const auto last_line_feed = text.rfind('\n');
  if (last_line_feed == std::string_view::npos) {
    // A complete line still waiting goes out before a new one starts.
    if (length_ > 0 && buffer_[length_ - 1] == '\n') {
      if (auto flushed = flush(); !flushed) return flushed;
    }
    return buffer_text(text);
  }
  const std::string_view lines = text.substr(0, last_line_feed + 1);
  const std::string_view rest = text.substr(last_line_feed + 1);
  if (length_ == 0) {
    if (auto written = quorvel::write_all(sink_, lines); !written) return written;
  } else {
    if (auto buffered = buffer_text(lines); !buffered) return buffered;
    if (auto flushed = flush(); !flushed) return flushed;
  }
  return buffer_text(rest);
}

std::expected<void, IoError> LineWriter::buffer_text(std::string_view text) {
  if (text.size() > capacity - length_) {
    if (auto flushed = flush(); !flushed) return flushed;
    if (text.size() >= capacity) return quorvel::write_all(sink_, text);
  }
  if (!text.empty()) std::memcpy(buffer_.data() + length_, text.data(), text.size());
  length_ += text.size();
  return {};
}

std::expected<void, IoError> LineWriter::flush() {
  std::string_view pending(buffer_.data(), length_);
  auto outcome = write_remaining(sink_, pending, io_messages::flush_write_zero);
  // What was written leaves the buffer even when the flush stops early.
  std::memmove(buffer_.data(), pending.data(), pending.size());
  length_ = pending.size();
  return outcome;
}

}  // namespace quorvel
