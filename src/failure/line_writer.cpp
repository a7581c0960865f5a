#include "failure/line_writer.h"

#include <algorithm>
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
  std::size_t done = 0;
  std::expected<void, IoError> outcome;
  while (done < length_) {
    auto written = sink_.write(std::span<const char>(buffer_.data() + done, length_ - done));
    if (!written) {
      if (written.error().kind() == ErrorKind::Interrupted) continue;
      outcome = std::unexpected(written.error());
      break;
    }
    if (*written == 0) {
      outcome = std::unexpected(IoError::simple_message(ErrorKind::WriteZero, io_messages::flush_write_zero));
      break;
    }
    done += std::min(*written, length_ - done);
  }
  // What was written leaves the buffer even when the flush stops early.
  std::memmove(buffer_.data(), buffer_.data() + done, length_ - done);
  length_ -= done;
  return outcome;
}

}  // namespace quorvel
