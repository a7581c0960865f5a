#pragma once
// The lowest level of console output: a sink that takes one write request at a time, the loop
// that writes a whole text through it, and the sink over the process's standard streams.

#include <cstddef>
#include <expected>
#include <span>
#include <string_view>

#include "platform/io_error.h"
#include "platform/platform.h"

namespace quorvel {

class RawSink {
 public:
  virtual ~RawSink() = default;
  // One write request; the number of bytes taken, possibly fewer than offered.
  virtual std::expected<std::size_t, IoError> write(std::span<const char> bytes) = 0;
};

// Writes all of `remaining`: retries an interrupted write, continues after a partial one, and
// gives the WriteZero error `zero_message` when a write takes nothing. `remaining` is left at
// what was not written, so a caller that stops early knows how far it got.
std::expected<void, IoError> write_remaining(RawSink& sink, std::string_view& remaining,
                                             std::string_view zero_message);

inline std::expected<void, IoError> write_all(RawSink& sink, std::string_view bytes,
                                              std::string_view zero_message = io_messages::write_zero) {
  return write_remaining(sink, bytes, zero_message);
}

// Output to a missing standard stream is dropped without a report: a write that finds the
// stream missing counts as having written everything.
class MissingStreamAsDone final : public RawSink {
 public:
  explicit MissingStreamAsDone(RawSink& inner) noexcept : inner_(inner) {}
  std::expected<std::size_t, IoError> write(std::span<const char> bytes) override;

 private:
  RawSink& inner_;
};

// One write to a standard stream, as the operating system reports it.
class StdStreamWrite final : public RawSink {
 public:
  explicit StdStreamWrite(platform::StdStream stream) noexcept : stream_(stream) {}
  std::expected<std::size_t, IoError> write(std::span<const char> bytes) override;

 private:
  platform::StdStream stream_;
};

// The sink every writer uses for a standard stream: the raw write with missing streams dropped.
class StdStreamSink final : public RawSink {
 public:
  explicit StdStreamSink(platform::StdStream stream) noexcept : raw_(stream), sink_(raw_) {}
  StdStreamSink(const StdStreamSink&) = delete;
  StdStreamSink& operator=(const StdStreamSink&) = delete;
  std::expected<std::size_t, IoError> write(std::span<const char> bytes) override {
    return sink_.write(bytes);
  }

 private:
  StdStreamWrite raw_;
  MissingStreamAsDone sink_;
};

}  // namespace quorvel
