#include "console/raw_sink.h"

#include <algorithm>

namespace quorvel {

std::expected<void, IoError> write_remaining(RawSink& sink, std::string_view& bytes,
                                             std::string_view zero_message) {
  while (!bytes.empty()) {
    auto written = sink.write(bytes);
    if (!written) {
      if (written.error().kind() == ErrorKind::Interrupted) continue;
      return std::unexpected(written.error());
    }
    if (*written == 0) return std::unexpected(IoError::simple_message(ErrorKind::WriteZero, zero_message));
    bytes.remove_prefix(std::min(*written, bytes.size()));
  }
  return {};
}

std::expected<std::size_t, IoError> MissingStreamAsDone::write(std::span<const char> bytes) {
  auto written = inner_.write(bytes);
  if (!written && platform::is_missing_stream_error(written.error())) return bytes.size();
  return written;
}

std::expected<std::size_t, IoError> StdStreamWrite::write(std::span<const char> bytes) {
  if (bytes.empty()) return 0;
  return platform::write_std(stream_, bytes);
}

}  // namespace quorvel
