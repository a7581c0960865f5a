#pragma once
// Process-wide values that need the interpreter to be created. A thread waits for another
// thread's creation only while detached from the interpreter: the creating thread needs the
// interpreter (and, with the global lock, would otherwise wait for the waiting thread forever).

#include <Python.h>

#include <mutex>

namespace quorvel {

// Runs `create` once per process, attached, unless it has already run; on return the calling
// thread is attached again. A creation that throws leaves the flag unset for the next caller.
template <class Create>
void call_once_detached(std::once_flag& flag, Create&& create) {
  PyThreadState* saved = PyEval_SaveThread();
  bool attached = false;
  try {
    std::call_once(flag, [&] {
      PyEval_RestoreThread(saved);
      attached = true;
      create();
    });
  } catch (...) {
    if (!attached) PyEval_RestoreThread(saved);
    throw;
  }
  if (!attached) PyEval_RestoreThread(saved);
}

}  // namespace quorvel
