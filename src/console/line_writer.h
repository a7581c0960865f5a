#pragma once
// The line-buffered writer behind standard output: a line reaches the sink no later than when
// its line feed is written; text after the last line feed waits in a 1024-byte buffer. The
// buffer is only ever flushed by writes, never on destruction.

#include <array>
#include <cstddef>
#include <expected>
#include <string_view>

#include "console/raw_sink.h"

namespace quorvel {

class LineWriter {
 public:
  static constexpr std::size_t capacity = 1024;

  explicit LineWriter(RawSink& sink) noexcept : sink_(sink) {}
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  std::expected<void, IoError> write_all(std::string_view text);

  std::string_view buffered() const noexcept { return {buffer_.data(), length_}; }

 private:
  std::expected<void, IoError> buffer_text(std::string_view text);
  std::expected<void, IoError> flush();

  RawSink& sink_;
  std::array<char, capacity> buffer_{};
  std::size_t length_ = 0;
};

}  // namespace quorvel
