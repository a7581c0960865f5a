// OS errors with Windows codes: the kind table and the system's message lookup. Wine's message
// texts differ from Windows' own, so the texts are checked for their shape, not their words.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/io_error.h"
#include "platform/platform.h"

namespace quorvel {
namespace {

struct KindCase {
  ErrorKind kind;
  std::vector<std::int32_t> codes;
};

void PrintTo(const KindCase& c, std::ostream* out) { *out << kind_name(c.kind); }

class WindowsKindTable : public ::testing::TestWithParam<KindCase> {};

TEST_P(WindowsKindTable, EveryCodeMapsToItsKind) {
  for (const std::int32_t code : GetParam().codes) {
    EXPECT_EQ(kind_name(IoError::os(code).kind()), kind_name(GetParam().kind)) << "code " << code;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WindowsKindTable,
    ::testing::Values(
        KindCase{ErrorKind::NotFound, {2, 3, 15, 53, 67}}, KindCase{ErrorKind::PermissionDenied, {5, 10013}},
        KindCase{ErrorKind::ConnectionRefused, {10061}}, KindCase{ErrorKind::ConnectionReset, {10054}},
        KindCase{ErrorKind::HostUnreachable, {1232, 10065}}, KindCase{ErrorKind::NetworkUnreachable, {1231, 10051}},
        KindCase{ErrorKind::ConnectionAborted, {10053}}, KindCase{ErrorKind::NotConnected, {10057}},
        KindCase{ErrorKind::AddrInUse, {10048}}, KindCase{ErrorKind::AddrNotAvailable, {10049}},
        KindCase{ErrorKind::NetworkDown, {10050}}, KindCase{ErrorKind::BrokenPipe, {109, 232, 10058}},
        KindCase{ErrorKind::AlreadyExists, {80, 183}}, KindCase{ErrorKind::WouldBlock, {10035}},
        KindCase{ErrorKind::NotADirectory, {267}}, KindCase{ErrorKind::IsADirectory, {336}},
        KindCase{ErrorKind::DirectoryNotEmpty, {145}}, KindCase{ErrorKind::ReadOnlyFilesystem, {19}},
        KindCase{ErrorKind::FilesystemLoop, {1921}}, KindCase{ErrorKind::InvalidInput, {87, 10022}},
        KindCase{ErrorKind::TimedOut,
                 {121, 258, 594, 995, 1053, 1121, 1460, 5910, 7012, 7040, 8014, 8226, 9705, 10060, 13805, 15402,
                  15403}},
        KindCase{ErrorKind::StorageFull, {39, 112}}, KindCase{ErrorKind::NotSeekable, {132}},
        KindCase{ErrorKind::QuotaExceeded, {1295, 10069}}, KindCase{ErrorKind::FileTooLarge, {223}},
        KindCase{ErrorKind::ResourceBusy, {170}}, KindCase{ErrorKind::Deadlock, {1131}},
        KindCase{ErrorKind::CrossesDevices, {17}}, KindCase{ErrorKind::TooManyLinks, {1142}},
        KindCase{ErrorKind::InvalidFilename, {123, 161, 206}}, KindCase{ErrorKind::Unsupported, {120}},
        KindCase{ErrorKind::OutOfMemory, {8, 14}},
        // Neighbours of mapped codes, and codes no row names.
        KindCase{ErrorKind::Uncategorized,
                 {0, 1, 4, 6, 9, 16, 32, 54, 108, 110, 233, 266, 268, 335, 337, 10012, 10014, 10062, 15404, -1,
                  static_cast<std::int32_t>(0xC0000034)}}),
    [](const auto& info) { return std::string(kind_name(info.param.kind)); });

bool ends_in_whitespace(const std::string& text) {
  return !text.empty() && std::string(" \t\n\f\r").find(text.back()) != std::string::npos;
}

class SystemMessage : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(SystemMessage, IsTheSystemTextWithoutItsLineBreak) {
  const std::int32_t code = GetParam();
  const std::string message = platform::os_error_message(code);
  EXPECT_FALSE(message.empty());
  EXPECT_FALSE(ends_in_whitespace(message)) << message;
  EXPECT_EQ(message.rfind("OS Error ", 0), std::string::npos) << message;  // found, not a fallback
  const IoError error = IoError::os(code);
  EXPECT_EQ(error.display(), message + " (os error " + std::to_string(code) + ")");
  std::string debug;
  error.append_debug(debug);
  EXPECT_EQ(debug.rfind("Os { code: " + std::to_string(code) + ", kind: " + std::string(kind_name(error.kind())) +
                            ", message: \"",
                        0),
            0u)
      << debug;
  EXPECT_TRUE(debug.ends_with("\" }")) << debug;
}

INSTANTIATE_TEST_SUITE_P(Codes, SystemMessage, ::testing::Values(2, 3, 5, 6, 87, 109, 232),
                         [](const auto& info) { return "code_" + std::to_string(info.param); });

TEST(SystemMessage, ACodeWithoutAMessageGivesTheLookupsError) {
  constexpr std::int32_t code = 0x2000ABCD;  // an application's own code: the system has no text
  const std::string message = platform::os_error_message(code);
  const std::string head = "OS Error " + std::to_string(code) + " (FormatMessageW() returned error ";
  ASSERT_EQ(message.rfind(head, 0), 0u) << message;
  ASSERT_TRUE(message.ends_with(")")) << message;
  const std::string lookup_error = message.substr(head.size(), message.size() - head.size() - 1);
  EXPECT_FALSE(lookup_error.empty());
  EXPECT_EQ(lookup_error.find_first_not_of("0123456789"), std::string::npos) << message;
  EXPECT_NE(lookup_error, "0");
}

struct NtStatusCase {
  std::string name;
  std::uint32_t code;
  bool found;
};

void PrintTo(const NtStatusCase& c, std::ostream* out) { *out << c.name; }

class NtStatusLookup : public ::testing::TestWithParam<NtStatusCase> {};

// Bit 0x10000000 marks an NT status carried as an error code: it is cleared and the text looked
// up in ntdll's own table; the system table has nothing under the code with the bit set.
TEST_P(NtStatusLookup, TheMarkedBitSendsTheLookupToNtdll) {
  const auto code = static_cast<std::int32_t>(GetParam().code);
  const std::string message = platform::os_error_message(code);
  const std::string fallback = "OS Error " + std::to_string(code) + " (FormatMessageW() returned error ";
  EXPECT_EQ(message.rfind(fallback, 0) != 0, GetParam().found) << message;
  EXPECT_FALSE(ends_in_whitespace(message)) << message;
}

INSTANTIATE_TEST_SUITE_P(Cases, NtStatusLookup,
                         ::testing::Values(NtStatusCase{"MarkedIsFoundInNtdll", 0x10000002u, true},
                                           NtStatusCase{"OtherHighBitIsNotFound", 0x20000002u, false},
                                           NtStatusCase{"BothBitsAreNotFound", 0x30000002u, false}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel
