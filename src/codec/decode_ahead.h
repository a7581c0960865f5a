#pragma once
// A decoded stream read through a thread of its own: it decodes into a few chunks ahead of the
// reader, so that decoding and parsing overlap. The queue is bounded: the thread waits for the
// reader, and memory stays a few chunks whatever the file's size.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "codec/decoded_stream.h"

namespace quorvel::codec {

class DecodeAhead {
 public:
  // Takes `stream` over; decoding starts at once.
  explicit DecodeAhead(DecodedStream stream);
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;
  ~DecodeAhead();  // stops the thread and waits for it

  // As DecodedStream::read, in the same order: the text, then its end or the error met.
  std::expected<std::size_t, IoError> read(std::span<char> into);

 private:
  void run();

  static constexpr std::size_t piece_size = std::size_t{1} << 16;  // the array line reader's buffer
  static constexpr std::size_t chunk_size = 16 * piece_size;
  static constexpr std::size_t most_chunks = 4;
  DecodedStream stream_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<char>> ready_;  // decoded, not read yet
  std::vector<std::vector<char>> spare_;  // read, for the thread to fill again
  std::size_t taken_ = 0;                 // bytes of the front chunk read
  bool ended_ = false;                    // the thread has finished: `error_` or the end follows the chunks
  bool stopping_ = false;                 // the reader has gone: the thread ends at its next wait
  std::optional<IoError> error_;
  // Last: started once everything it uses is there. A plain thread and condition variable: the
  // stop tokens of newer libraries need a libstdc++ newer than the wheels may assume.
  std::thread thread_;
};

}  // namespace quorvel::codec
