#pragma once
// The compressed formats a plot file may come in, told by the first bytes of the file (never by
// its name: a renamed file reads the same).

#include <cstddef>
#include <span>
#include <string_view>

namespace quorvel::codec {

enum class Format : unsigned char { Plain, Gzip, Bzip2, Xz, Zstd };

// The longest magic number: read at least this many bytes to recognise every format.
inline constexpr std::size_t magic_bytes = 6;

// `first` holds the file's first bytes (fewer when the file is shorter).
Format recognise(std::span<const char> first) noexcept;

// "gzip", "bzip2", "xz", "zstd" (the names the messages give).
std::string_view format_name(Format format) noexcept;

}  // namespace quorvel::codec
