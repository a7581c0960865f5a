#pragma once
// A function of a loaded library, looked up by name and typed by the caller.

#include "platform/windows/windows_headers.h"

namespace quorvel::platform::windows {

// Null when the library does not export `name`.
template <class Fn>
Fn lookup_function(HMODULE library, const char* name) noexcept {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace quorvel::platform::windows
