#pragma once
// The attribute names the execution step looks up, interned once per process and kept for good.

#include <Python.h>

namespace quorvel {

// Borrowed. Created on first use.
PyObject* name_attribute();  // "__name__"
PyObject* all_attribute();   // "__all__"

}  // namespace quorvel
