#pragma once
// The failure report, written to standard error at the failure site before anything is
// released:
//
//   thread '<unnamed>' (<thread id>) panicked at <file>:<line>:<column>:
//   <message>
//
// preceded by an empty line and followed, by the backtrace style, by a backtrace, or by the
// note on how to get one (once per process), or by nothing. Reports go to the standard error
// stream directly, not through the standard error writer, one at a time across the process.

#include <cstdint>
#include <expected>
#include <source_location>
#include <string_view>

#include "platform/io_error.h"
#include "console/raw_sink.h"

namespace quorvel {

struct Location {
  std::string_view file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;

  static Location of(const std::source_location& where) noexcept {
    return {where.file_name(), where.line(), where.column()};
  }
};

struct ReportRequest {
  std::string_view message;
  Location where;
  bool may_unwind = true;
};

// Users' tools match the report's texts, the variable's name included: keep them letter for letter.
inline constexpr std::string_view backtrace_hint_note =
    "note: run with `RUST_BACKTRACE=1` environment variable to display a backtrace\n";

// Returns when the failure may unwind. A failure that may not, or one raised while this thread
// is writing a report, ends the process here.
void write_failure_report(const ReportRequest& request) noexcept;

// The first block, formatted into a 512-byte buffer and written in one piece when it fits;
// otherwise written piece by piece.
inline constexpr std::size_t first_block_capacity = 512;
std::expected<void, IoError> write_first_block(RawSink& sink, std::string_view thread_name,
                                               std::uint64_t thread_id, const Location& where,
                                               std::string_view message);

}  // namespace quorvel
