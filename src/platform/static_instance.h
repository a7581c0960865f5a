#pragma once
// Storage for a process-wide object that is never destroyed: it stays usable by code that runs
// during exit, and its destructor never runs (a buffered writer is not flushed at exit).

#include <utility>

namespace quorvel {

template <class T>
class StaticInstance {
 public:
  template <class... Args>
  explicit StaticInstance(Args&&... args) : value_(std::forward<Args>(args)...) {}
  StaticInstance(const StaticInstance&) = delete;
  StaticInstance& operator=(const StaticInstance&) = delete;
  ~StaticInstance() {}  // deliberately leaves value_ alone

  T& get() noexcept { return value_; }

 private:
  union {
    T value_;
  };
};

}  // namespace quorvel
