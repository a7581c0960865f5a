#pragma once
// The interrupt check of a call that holds the interpreter's lock: when a signal interrupts a
// blocking open or read, the interpreter's pending signal handlers run (on the main thread; on
// any other thread this does nothing and the read is retried). A handler that raises (Ctrl-C's
// KeyboardInterrupt) stops the call, which then ends with that exception.

#include <Python.h>

#include "platform/platform.h"

namespace quorvel {

inline platform::InterruptCheck python_signal_check() noexcept {
  return {.stop = [](void*) { return PyErr_CheckSignals() < 0; }, .context = nullptr};
}

}  // namespace quorvel
