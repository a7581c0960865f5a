#pragma once
// One strong reference to a Python object, released when the owner goes away. Every object
// reference the module creates is held in one of these, so that a failure unwinding through a
// frame releases what the frame built.

#include <Python.h>

#include <utility>

namespace quorvel {

class owned_ref {
 public:
  owned_ref() noexcept = default;
  // Takes over a new reference (may be null, as returned by a failing API call).
  static owned_ref steal(PyObject* object) noexcept { return owned_ref(object); }
  // Adds a reference to a borrowed object.
  static owned_ref borrow(PyObject* object) noexcept { return owned_ref(Py_XNewRef(object)); }

  owned_ref(owned_ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  owned_ref& operator=(owned_ref&& other) noexcept {
    owned_ref old(std::exchange(object_, std::exchange(other.object_, nullptr)));
    return *this;
  }
  owned_ref(const owned_ref&) = delete;
  owned_ref& operator=(const owned_ref&) = delete;
  ~owned_ref() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller (for an API that steals it, or a return to the interpreter).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit owned_ref(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace quorvel
