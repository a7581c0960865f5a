#include "failure/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace quorvel {
namespace {

std::string debug(const IoError& error) {
  std::string out;
  error.append_debug(out);
  return out;
}

struct Rendering {
  IoError error;
  std::string debug;
  std::string display;
};

class IoErrorRendering : public testing::TestWithParam<Rendering> {};

TEST_P(IoErrorRendering, DebugAndDisplay) {
  EXPECT_EQ(debug(GetParam().error), GetParam().debug);
  EXPECT_EQ(GetParam().error.display(), GetParam().display);
}

// A custom inner error whose text needs escaping in the debug form.
struct QuotedInner final : CustomError {
  void append_debug(std::string& out) const override { out += "Inner(\"a\\\"b\")"; }
  void append_display(std::string& out) const override { out += "inner \"display\""; }
};

INSTANTIATE_TEST_SUITE_P(
    Forms, IoErrorRendering,
    testing::Values(
        Rendering{IoError::os(ENOENT), "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }",
                  "No such file or directory (os error 2)"},
        Rendering{IoError::os(EPIPE), "Os { code: 32, kind: BrokenPipe, message: \"Broken pipe\" }",
                  "Broken pipe (os error 32)"},
        Rendering{IoError::os(EACCES), "Os { code: 13, kind: PermissionDenied, message: \"Permission denied\" }",
                  "Permission denied (os error 13)"},
        Rendering{IoError::os(-7), "Os { code: -7, kind: Uncategorized, message: \"Unknown error -7\" }",
                  "Unknown error -7 (os error -7)"},
        Rendering{IoError::simple(ErrorKind::Interrupted), "Kind(Interrupted)", "operation interrupted"},
        Rendering{IoError::simple(ErrorKind::FilesystemLoop), "Kind(FilesystemLoop)",
                  "filesystem loop or indirection limit (e.g. symlink loop)"},
        Rendering{IoError::simple_message(ErrorKind::InvalidData, io_messages::invalid_utf8),
                  "Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }",
                  "stream did not contain valid UTF-8"},
        Rendering{IoError::simple_message(ErrorKind::WriteZero, io_messages::write_zero),
                  "Error { kind: WriteZero, message: \"failed to write whole buffer\" }", "failed to write whole buffer"},
        Rendering{IoError::simple_message(ErrorKind::Other, "say \"hi\"\\\n\x01"),
                  "Error { kind: Other, message: \"say \\\"hi\\\"\\\\\\n\\u{1}\" }", "say \"hi\"\\\n\x01"},
        Rendering{IoError::custom(ErrorKind::Other, std::make_shared<QuotedInner>()),
                  "Custom { kind: Other, error: Inner(\"a\\\"b\") }", "inner \"display\""}));

TEST(IoErrorKind, OsCodesMapToTheirMeaning) {
  const std::pair<int, ErrorKind> mapped[] = {
      {ENOENT, ErrorKind::NotFound},          {EPERM, ErrorKind::PermissionDenied},
      {EISDIR, ErrorKind::IsADirectory},      {ENOTDIR, ErrorKind::NotADirectory},
      {ENAMETOOLONG, ErrorKind::InvalidFilename}, {ELOOP, ErrorKind::FilesystemLoop},
      {EINTR, ErrorKind::Interrupted},        {ENOSPC, ErrorKind::StorageFull},
      {ENOMEM, ErrorKind::OutOfMemory},       {EAGAIN, ErrorKind::WouldBlock},
      {EIO, ErrorKind::Uncategorized},        {0, ErrorKind::Uncategorized},
  };
  for (const auto& [code, kind] : mapped) {
    EXPECT_EQ(kind_name(IoError::os(code).kind()), kind_name(kind)) << "errno " << code;
  }
}

}  // namespace
}  // namespace quorvel
