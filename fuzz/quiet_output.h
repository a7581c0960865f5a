#pragma once
// Targets whose code under test writes to the standard streams (the failure report, a notice on
// standard output) ask libFuzzer to close them for the target (-close_fd_mask=3): its own output
// and the sanitizers' reports still go to the original standard error.

#include <string>
#include <string_view>
#include <vector>

namespace quorvel::fuzz {

inline void quiet_standard_streams(int* argc, char*** argv) {
  static std::vector<char*> arguments;
  static std::string flag = "-close_fd_mask=3";
  for (int i = 1; i < *argc; ++i) {
    if (std::string_view((*argv)[i]).starts_with("-close_fd_mask=")) return;  // the caller chose
  }
  arguments.assign(*argv, *argv + *argc);
  arguments.push_back(flag.data());
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();
}

}  // namespace quorvel::fuzz
