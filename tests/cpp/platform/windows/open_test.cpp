// Opening the plot file with the Windows file services: refusals with their codes, sharing with
// other openers, paths beyond ASCII, and the handle closed on every path.

#include "platform/windows/windows_headers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "failure/failure.h"
#include "platform/platform.h"
#include "platform/windows/unique_handle.h"
#include "reader/readers/list_reader.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

using platform::windows::UniqueHandle;
using test_support::TempFile;

const std::string small_plot = "1\na\nsep\n         1.5\n";

std::string open_failure(const std::string& path) {
  try {
    read_plot_file(path, 12);
  } catch (const Failure& failure) {
    return failure.message();
  }
  return "no failure";
}

struct RefusalCase {
  std::string name;
  std::string path;
  std::string head;  // the message up to the system's text
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class OpenRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(OpenRefusal, NamesTheCodeAndKind) {
  const std::string message = open_failure(GetParam().path);
  EXPECT_EQ(message.rfind(GetParam().head, 0), 0u) << message;
  EXPECT_TRUE(message.ends_with("\" }")) << message;
  EXPECT_GT(message.size(), GetParam().head.size() + 3) << "the system's text is missing: " << message;
}

const std::string temp = std::filesystem::temp_directory_path().string();

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenRefusal,
    ::testing::Values(
        RefusalCase{"MissingFile", temp + "\\quorvel-missing.plt",
                    "Plot file not found!: Os { code: 2, kind: NotFound, message: \""},
        RefusalCase{"MissingFolder", temp + "\\quorvel-missing-folder\\x.plt",
                    "Plot file not found!: Os { code: 3, kind: NotFound, message: \""},
        // Without backup semantics the system refuses to open a folder.
        RefusalCase{"Folder", temp, "Plot file not found!: Os { code: 5, kind: PermissionDenied, message: \""}),
    [](const auto& info) { return info.param.name; });

TEST(Open, APathHoldingANulIsInvalidInput) {
  TempFile file(small_plot);
  EXPECT_EQ(open_failure(file.path() + std::string("\0x", 2)),
            "Plot file not found!: Error { kind: InvalidInput, message: \"strings passed to WinAPI cannot contain NULs\" }");
  EXPECT_EQ(open_failure(std::string("\0", 1)),
            "Plot file not found!: Error { kind: InvalidInput, message: \"strings passed to WinAPI cannot contain NULs\" }");
}

TEST(Open, APathBeyondAsciiIsConvertedToUtf16) {
  const std::wstring wide = std::filesystem::temp_directory_path().wstring() + L"\\quorvel-donn\u00E9es-\u6570-\U0001F600.plt";
  {
    UniqueHandle handle(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(handle);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(handle.get(), small_plot.data(), static_cast<DWORD>(small_plot.size()), &written, nullptr));
  }
  const std::u8string u8 = std::filesystem::path(wide).u8string();
  const std::string utf8(u8.begin(), u8.end());
  const ColumnData columns = read_plot_file(utf8, 12);
  ::DeleteFileW(wide.c_str());
  ASSERT_EQ(columns.first.size(), 1u);
  columns.first.for_each_chunk([](std::span<const float> chunk) { EXPECT_EQ(chunk[0], 1.5f); });
}

struct SharingCase {
  std::string name;
  DWORD holder_access;
  DWORD holder_sharing;
  bool opens;
};

void PrintTo(const SharingCase& c, std::ostream* out) { *out << c.name; }

class OpenSharing : public ::testing::TestWithParam<SharingCase> {};

TEST_P(OpenSharing, SharesReadWriteAndDeleteWithOtherOpeners) {
  TempFile file(small_plot);
  const std::wstring wide = std::filesystem::path(file.path()).wstring();
  UniqueHandle holder(::CreateFileW(wide.c_str(), GetParam().holder_access, GetParam().holder_sharing, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  auto opened = platform::File::open_for_reading(file.path());
  EXPECT_EQ(opened.has_value(), GetParam().opens);
  if (!opened) {
    EXPECT_EQ(opened.error().os_code(), 32);  // ERROR_SHARING_VIOLATION
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenSharing,
    ::testing::Values(
        SharingCase{"Reader", GENERIC_READ, FILE_SHARE_READ, true},
        SharingCase{"Writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        SharingCase{"Deleter", DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, true},
        SharingCase{"AllThree", GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        // A holder that shares nothing, or does not share reading, keeps the reader out.
        SharingCase{"Exclusive", GENERIC_READ, 0, false},
        SharingCase{"NoReadSharing", GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, false}),
    [](const auto& info) { return info.param.name; });

// Whether the file can be opened with no sharing at all: only when no other handle is open.
bool nobody_holds(const std::string& path) {
  const std::wstring wide = std::filesystem::path(path).wstring();
  return UniqueHandle(::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
      .operator bool();
}

TEST(Open, TheFileIsClosedOnEveryPath) {
  for (const std::string& bytes : {small_plot, std::string("1\na\nsep\n         bad\n"), std::string("3 x\n")}) {
    TempFile file(bytes);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    try {
      read_plot_file(file.path(), 12);
    } catch (const Failure&) {
    }
    ::testing::internal::GetCapturedStderr();
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(nobody_holds(file.path())) << bytes;
  }
}

TEST(Open, TheOwnerClosesTheHandle) {
  TempFile file(small_plot);
  {
    auto opened = platform::File::open_for_reading(file.path());
    ASSERT_TRUE(opened);
    EXPECT_FALSE(nobody_holds(file.path()));
    platform::File moved = std::move(*opened);
    EXPECT_FALSE(nobody_holds(file.path()));
  }
  EXPECT_TRUE(nobody_holds(file.path()));
}

}  // namespace
}  // namespace quorvel
