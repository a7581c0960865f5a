#pragma once
// Readable C++ names for the symbols a backtrace finds, on every system.

#include <string>
#include <string_view>

namespace quorvel::platform {

// The demangled form of a mangled C++ name; any other name, or one that does not demangle,
// comes back as it is.
std::string demangle(std::string_view name);

}  // namespace quorvel::platform
