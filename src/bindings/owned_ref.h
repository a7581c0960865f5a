#pragma once
// One strong reference to a Python object, released when the owner goes away. Every object
// reference the module creates is held in one of these, so that a failure unwinding through a
// frame releases what the frame built.

#include <Python.h>

#include <utility>

namespace quorvel {

class OwnedRef {
 public:
  OwnedRef() noexcept = default;
  // Takes over a new reference (may be null, as returned by a failing API call).
  static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
  // Adds a reference to a borrowed object.
  static OwnedRef borrow(PyObject* object) noexcept { return OwnedRef(Py_XNewRef(object)); }

  OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    OwnedRef old(std::exchange(object_, std::exchange(other.object_, nullptr)));
    return *this;
  }
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  ~OwnedRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Hands the reference to the caller (for an API that steals it, or a return to the interpreter).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace quorvel
