#pragma once
// Python objects written into messages, as their str() (display) or repr() (debug).

#include <Python.h>

#include <string>

namespace quorvel {

enum class Rendering : bool { Display, Debug };

// A str() or repr() that raises is reported as unraisable (naming the object) and written as
// "<unprintable TYPE object>".
void append_object(std::string& out, PyObject* object, Rendering rendering);

// A str's text as UTF-8; lone surrogates become U+FFFD (one per byte of their encoded form that
// cannot start a valid sequence).
void append_str_utf8(std::string& out, PyObject* text);

}  // namespace quorvel
