#include "codec/format.h"

#include <algorithm>
#include <array>

namespace quorvel::codec {
namespace {

struct Magic {
  Format format;
  std::string_view bytes;
};

// A plot file starts with its header text: none of these starts a readable one (the first two
// and the last are not UTF-8; bzip2's needs its block size digit besides).
constexpr std::array<Magic, 4> magics{{
    {Format::Gzip, std::string_view("\x1f\x8b", 2)},
    {Format::Bzip2, std::string_view("BZh", 3)},
    {Format::Xz, std::string_view("\xfd" "7zXZ\0", 6)},
    {Format::Zstd, std::string_view("\x28\xb5\x2f\xfd", 4)},
}};

// zstd's skippable frames (magic 0x184D2A50 to 0x184D2A5F) hold no text; a parallel compressor
// writes one ahead of the first frame, to say where the frames are.
bool starts_with_skippable_frame(std::string_view start) noexcept {
  return start.size() >= 4 && (static_cast<unsigned char>(start[0]) & 0xf0) == 0x50 && start.substr(1, 3) == "\x2a\x4d\x18";
}

}  // namespace

Format recognise(std::span<const char> first) noexcept {
  const std::string_view start(first.data(), first.size());
  if (starts_with_skippable_frame(start)) return Format::Zstd;
  for (const Magic& magic : magics) {
    if (magic.format == Format::Bzip2 && (start.size() < 4 || start[3] < '1' || start[3] > '9')) continue;
    if (start.starts_with(magic.bytes)) return magic.format;
  }
  return Format::Plain;
}

std::string_view format_name(Format format) noexcept {
  switch (format) {
    case Format::Gzip: return "gzip";
    case Format::Bzip2: return "bzip2";
    case Format::Xz: return "xz";
    case Format::Zstd: return "zstd";
    case Format::Plain: break;
  }
  return "plain";
}

}  // namespace quorvel::codec
