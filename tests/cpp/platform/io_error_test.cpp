#include "platform/io_error.h"
#include "support/io_errors.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

struct Rendering {
  IoError error;
  std::string debug;
  std::string display;
};

void PrintTo(const Rendering& c, std::ostream* out) { *out << c.debug; }

class IoErrorRendering : public testing::TestWithParam<Rendering> {};

TEST_P(IoErrorRendering, DebugAndDisplay) {
  EXPECT_EQ(test_support::debug_text(GetParam().error), GetParam().debug);
  EXPECT_EQ(GetParam().error.display(), GetParam().display);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IoErrorRendering,
    testing::Values(
        Rendering{IoError::simple_message(ErrorKind::InvalidData, io_messages::invalid_utf8),
                  "Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }",
                  "stream did not contain valid UTF-8"},
        Rendering{IoError::simple_message(ErrorKind::WriteZero, io_messages::write_zero),
                  "Error { kind: WriteZero, message: \"failed to write whole buffer\" }", "failed to write whole buffer"},
        Rendering{IoError::simple_message(ErrorKind::Other, "say \"hi\"\\\n\x01"),
                  "Error { kind: Other, message: \"say \\\"hi\\\"\\\\\\n\\u{1}\" }", "say \"hi\"\\\n\x01"}),
    // The debug form's first word and the kind.
    [](const testing::TestParamInfo<Rendering>& info) {
      const std::string& debug = info.param.debug;
      return debug.substr(0, debug.find_first_of(" (")) + "_" + std::string(kind_name(info.param.error.kind()));
    });

}  // namespace
}  // namespace quorvel
