#pragma once
// An anonymous pipe for the tests, both ends owned.

#include "platform/windows/windows_headers.h"

#include <gtest/gtest.h>

#include "platform/windows/unique_handle.h"

namespace quorvel::test_support {

struct Pipe {
  platform::windows::UniqueHandle read_end;
  platform::windows::UniqueHandle write_end;
};

inline Pipe make_pipe(DWORD buffer_size = 0) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  EXPECT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, buffer_size));
  return Pipe{platform::windows::UniqueHandle(read_end), platform::windows::UniqueHandle(write_end)};
}

}  // namespace quorvel::test_support
