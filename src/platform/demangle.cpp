#include "platform/demangle.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace quorvel::platform {

std::string demangle(std::string_view name) {
  std::string text(name);
  if (!text.starts_with("_Z")) return text;
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> readable(
      abi::__cxa_demangle(text.c_str(), nullptr, nullptr, &status), &std::free);
  return status == 0 && readable ? std::string(readable.get()) : text;
}

}  // namespace quorvel::platform
