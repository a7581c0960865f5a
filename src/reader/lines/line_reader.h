#pragma once
// Reads a file line by line through a fixed buffer (8192 bytes unless the reader chooses another
// size). A line ends at LF; one CR right
// before that LF goes with it; the last line needs no LF; every line must be well-formed UTF-8.

#include <cstddef>
#include <cstring>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/io_error.h"
#include "reader/lines/line_scan.h"
#include "text/utf8.h"
#include "text/utf8_stream.h"

namespace quorvel {

enum class LineOutcome { Line, EndOfInput, TooLong };

// `Source` offers `std::expected<std::size_t, IoError> read(std::span<char>)`, where 0 bytes
// means end of input. The reader owns the source: dropping the reader closes the file.
template <class Source, std::size_t BufferSize = 8192>
class BasicLineReader {
 public:
  static constexpr std::size_t buffer_size = BufferSize;

  explicit BasicLineReader(Source source)
      : source_(std::move(source)), buffer_(std::make_unique_for_overwrite<char[]>(buffer_size)) {}

  // The next line without its terminator, in `line`. A view stays valid until the next read: it
  // points into the buffer when the whole line is there, else into `spill`, where a line that
  // spans refills is assembled. The byte just past the view is always readable and is ASCII (the
  // line's terminator, or the string's closing NUL). The bytes of a line that fails (a read
  // error, or text that is not UTF-8) stay consumed and `line` is left unspecified.
  // Inlined into each caller: the in-buffer case is a few instructions, and a call would cost as much.
  [[gnu::always_inline]] std::expected<LineOutcome, IoError> read_line(std::string& spill, std::string_view& line) {
    return read_line_up_to<false>(spill, line, 0);
  }

  // The same for a line of at most `limit` bytes (its terminator aside). A longer one is read no
  // further than needed to tell: TooLong, its first bytes consumed, the rest unread, `line` left
  // unspecified.
  std::expected<LineOutcome, IoError> read_line_within(std::string& spill, std::string_view& line, std::size_t limit) {
    return read_line_up_to<true>(spill, line, limit);
  }

  // The next line passed over, as read_line would read it (the same outcome, the same errors, the
  // same bytes consumed) but never held: a line that spans refills is checked as it streams
  // through the buffer, so that a line the caller does not look at costs no memory, however long.
  std::expected<LineOutcome, IoError> skip_line() {
    if (position_ < filled_) {
      const char* unread = buffer_.get() + position_;
      const LineFeedScan scan = scan_to_line_feed(unread, filled_ - position_);
      if (scan.line_feed < filled_ - position_) {
        position_ += scan.line_feed + 1;
        known_ascii_ = scan.ascii;
        if (!scan.ascii && !is_valid_utf8(std::string_view(unread, scan.line_feed))) return invalid_utf8();
        return LineOutcome::Line;
      }
    }
    known_ascii_ = false;
    return pass_line();
  }

  // True when the last line read is known to hold only ASCII bytes (false: not known).
  bool line_known_ascii() const noexcept { return known_ascii_; }

  // The value-line fast path: the next `length` bytes, when the buffer holds them and a line feed
  // right after them (else nullptr). Nothing is taken; they are the next line exactly when none
  // of them is a line feed.
  const char* bytes_before_line_feed(std::size_t length) const noexcept {
    if (filled_ - position_ <= length || buffer_[position_ + length] != '\n') return nullptr;
    return buffer_.get() + position_;
  }
  // Takes those bytes and their line feed as the next line, which the caller found to be ASCII
  // without a line feed (so it is what read_line gives).
  void take_line_before_line_feed(std::size_t length, std::string_view& line) noexcept {
    line = std::string_view(buffer_.get() + position_, length);
    position_ += length + 1;
    known_ascii_ = true;
  }

  // The fast path over many lines: how many lines of `length` bytes and a line feed each the
  // buffer could hold from here; the caller finds whether it does (unread() shows the bytes).
  std::size_t whole_lines_ahead(std::size_t length) const noexcept { return (filled_ - position_) / (length + 1); }
  // Takes `lines` such lines, which the caller found to be ASCII with a line feed after each
  // `length` bytes and none before; `line` is the last.
  void take_lines_before_line_feeds(std::size_t lines, std::size_t length, std::string_view& line) noexcept {
    position_ += lines * (length + 1);
    line = std::string_view(buffer_.get() + position_ - length - 1, length);
    known_ascii_ = true;
  }

  // The bytes read from the source but not given as lines yet, and the source: a reader that
  // only counts lines goes on from here without this reader.
  std::string_view unread() const noexcept { return {buffer_.get() + position_, filled_ - position_}; }
  Source& source() noexcept { return source_; }

 private:
  template <bool Limited>
  [[gnu::always_inline]] std::expected<LineOutcome, IoError> read_line_up_to(std::string& spill,
                                                                             std::string_view& line,
                                                                             [[maybe_unused]] std::size_t limit) {
    if (position_ < filled_) {
      const char* unread = buffer_.get() + position_;
      const LineFeedScan scan = scan_to_line_feed(unread, filled_ - position_);
      if (scan.line_feed < filled_ - position_) {
        position_ += scan.line_feed + 1;
        line = std::string_view(unread, scan.line_feed);
        known_ascii_ = scan.ascii;
        if (!scan.ascii && !is_valid_utf8(line)) return invalid_utf8();
        if (line.ends_with('\r')) line.remove_suffix(1);
        if constexpr (Limited) {
          if (line.size() > limit) return LineOutcome::TooLong;
        }
        return LineOutcome::Line;
      }
    }
    known_ascii_ = false;
    auto got = assemble_line<Limited>(spill, limit);
    line = spill;
    return got;
  }

  static std::unexpected<IoError> invalid_utf8() {
    return std::unexpected(IoError::simple_message(ErrorKind::InvalidData, io_messages::invalid_utf8));
  }

  // What stream_line saw: the error of a read that failed, whether any byte came, and whether
  // `take` stopped it before the line's end.
  struct Streamed {
    std::optional<IoError> read_error;
    bool any = false;
    bool stopped = false;
  };

  // The rest of a line that is not wholly in the buffer, handed to `take` a piece at a time
  // through as many refills as it needs (the line feed with the last piece) up to the end of
  // input; `take` gives false, for a piece before the last, to stop there.
  template <class Take>
  Streamed stream_line(Take&& take) {
    Streamed streamed;
    for (;;) {
      if (position_ == filled_) {
        if (auto refilled = refill(); !refilled) {
          streamed.read_error = std::move(refilled.error());
          return streamed;
        }
      }
      const char* unread = buffer_.get() + position_;
      const std::size_t available = filled_ - position_;
      if (const void* lf = std::memchr(unread, '\n', available)) {
        const std::size_t taken = static_cast<const char*>(lf) - unread + 1;
        position_ += taken;
        streamed.any = true;
        (void)take(std::string_view(unread, taken));
        return streamed;
      }
      position_ = filled_;
      if (available == 0) return streamed;  // the refill delivered nothing: end of input
      streamed.any = true;
      if (!take(std::string_view(unread, available))) {
        streamed.stopped = true;
        return streamed;
      }
    }
  }

  // A line that is not wholly in the buffer, assembled in `line` (when `Limited`, no further than
  // it takes to see that it is longer than `limit`).
  template <bool Limited>
  std::expected<LineOutcome, IoError> assemble_line(std::string& line, [[maybe_unused]] std::size_t limit) {
    line.clear();
    Streamed streamed = stream_line([&](std::string_view piece) {
      line.append(piece);
      // One byte more than the limit may be the CR of a CR LF.
      if constexpr (Limited) return line.size() <= limit + 1;
      return true;
    });
    if (streamed.stopped) return LineOutcome::TooLong;
    const bool well_formed = is_valid_utf8(line);
    if (streamed.read_error) return std::unexpected(std::move(*streamed.read_error));
    if (!well_formed) return invalid_utf8();
    if (line.empty()) return LineOutcome::EndOfInput;
    if (line.back() == '\n') {
      line.pop_back();
      if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    if constexpr (Limited) {
      if (line.size() > limit) return LineOutcome::TooLong;
    }
    return LineOutcome::Line;
  }

  // skip_line's line that is not wholly in the buffer: checked as it streams, never kept.
  std::expected<LineOutcome, IoError> pass_line() {
    Utf8Stream text;
    Streamed streamed = stream_line([&](std::string_view piece) {
      text.feed(piece);
      return true;
    });
    if (streamed.read_error) return std::unexpected(std::move(*streamed.read_error));
    if (!text.well_formed()) return invalid_utf8();
    return streamed.any ? LineOutcome::Line : LineOutcome::EndOfInput;
  }

  // One read into the whole buffer. A broken pipe is the end of input, as a writer that went
  // away has nothing more to say. (The sources retry a read a signal interrupted, or throw when
  // the caller stops: an interruption never reaches here.)
  std::expected<void, IoError> refill() {
    auto got = source_.read(std::span<char>(buffer_.get(), buffer_size));
    if (got) {
      position_ = 0;
      filled_ = *got;
      return {};
    }
    if (got.error().kind() == ErrorKind::BrokenPipe) {
      position_ = filled_ = 0;
      return {};
    }
    return std::unexpected(std::move(got.error()));
  }

  Source source_;
  std::unique_ptr<char[]> buffer_;
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool known_ascii_ = false;
};

}  // namespace quorvel
