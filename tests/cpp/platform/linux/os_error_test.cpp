#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/io_error.h"
#include "support/io_errors.h"

// OS errors as this system numbers and words them.

namespace quorvel {
namespace {

struct OsRendering {
  IoError error;
  std::string debug;
  std::string display;
};

void PrintTo(const OsRendering& c, std::ostream* out) { *out << c.debug; }

class OsErrorRendering : public testing::TestWithParam<OsRendering> {};

TEST_P(OsErrorRendering, DebugAndDisplay) {
  EXPECT_EQ(test_support::debug_text(GetParam().error), GetParam().debug);
  EXPECT_EQ(GetParam().error.display(), GetParam().display);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, OsErrorRendering,
    testing::Values(
        OsRendering{IoError::os(ENOENT), "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }",
                  "No such file or directory (os error 2)"},
        OsRendering{IoError::os(EPIPE), "Os { code: 32, kind: BrokenPipe, message: \"Broken pipe\" }",
                  "Broken pipe (os error 32)"},
        OsRendering{IoError::os(EACCES), "Os { code: 13, kind: PermissionDenied, message: \"Permission denied\" }",
                  "Permission denied (os error 13)"},
        OsRendering{IoError::os(-7), "Os { code: -7, kind: Uncategorized, message: \"Unknown error -7\" }",
                  "Unknown error -7 (os error -7)"}),
    [](const auto& info) { return std::string(kind_name(info.param.error.kind())); });

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
