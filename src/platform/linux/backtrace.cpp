// Stack walking with the unwinder's own tables, symbol and line lookup with the compiler's
// libbacktrace where the build found it (it reads the DWARF of the executable and of every loaded
// library, including inlined functions), else names from the dynamic symbol tables.

#if QUORVEL_HAVE_LIBBACKTRACE
#include <backtrace.h>
#else
#include <dlfcn.h>
#endif
#include <unwind.h>

#include <cstdlib>
#include <memory>

#include "platform/demangle.h"
#include "platform/process.h"

namespace quorvel::platform {
namespace {

struct Walk {
  std::vector<StackFrame>* frames;
  std::size_t max_frames;
  std::uintptr_t last_ip = 0;
  std::uintptr_t last_cfa = 0;
};

_Unwind_Reason_Code on_frame(_Unwind_Context* context, void* data) {
  auto& walk = *static_cast<Walk*>(data);
  if (walk.frames->size() >= walk.max_frames) return _URC_END_OF_STACK;
  int before_instruction = 0;
  const std::uintptr_t ip = _Unwind_GetIPInfo(context, &before_instruction);
  const std::uintptr_t cfa = _Unwind_GetCFA(context);
  if (ip == 0) return _URC_END_OF_STACK;
  if (!walk.frames->empty() && ip == walk.last_ip && cfa == walk.last_cfa) return _URC_END_OF_STACK;
  walk.last_ip = ip;
  walk.last_cfa = cfa;
  // A return address points after the call; look up the call itself.
  walk.frames->push_back(StackFrame{before_instruction ? ip : ip - 1, {}});
  return _URC_NO_REASON;
}

#if QUORVEL_HAVE_LIBBACKTRACE
// Made once per process and never released: libbacktrace keeps its tables in it.
backtrace_state* symbol_tables() {
  static backtrace_state* const state = backtrace_create_state(
      nullptr, /*threaded=*/1, [](void*, const char*, int) {}, nullptr);
  return state;
}

// libbacktrace is C: nothing may unwind through it, so the callbacks catch everything.
int on_line(void* data, std::uintptr_t, const char* file, int line, const char* function) noexcept {
  if (file == nullptr && function == nullptr) return 0;
  try {
    static_cast<std::vector<SymbolInfo>*>(data)->push_back(
        SymbolInfo{function != nullptr ? demangle(function) : std::string(),
                   file != nullptr ? std::string(file) : std::string(),
                   line > 0 ? static_cast<std::uint32_t>(line) : 0u, 0u});
    return 0;
  } catch (...) {
    return 1;
  }
}

void on_symbol(void* data, std::uintptr_t, const char* name, std::uintptr_t, std::uintptr_t) noexcept {
  if (name == nullptr) return;
  try {
    *static_cast<std::string*>(data) = demangle(name);
  } catch (...) {
  }
}

void on_error(void*, const char*, int) noexcept {}

void resolve(backtrace_state* state, StackFrame& frame) {
  backtrace_pcinfo(state, frame.address, on_line, on_error, &frame.symbols);
  // The debug information names functions of internal linkage and inlined ones without their
  // scope; the symbol table has the full name of the function that owns the frame.
  std::string name;
  backtrace_syminfo(state, frame.address, on_symbol, on_error, &name);
  if (!name.empty()) {
    if (frame.symbols.empty()) frame.symbols.emplace_back();
    frame.symbols.back().name = std::move(name);
  }
}

void resolve_all(std::vector<StackFrame>& frames) {
  if (backtrace_state* state = symbol_tables(); state != nullptr) {
    for (StackFrame& frame : frames) resolve(state, frame);
  }
}
#else
// Without debug information: exported names only, no source lines.
void resolve_all(std::vector<StackFrame>& frames) {
  for (StackFrame& frame : frames) {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(frame.address), &info) != 0 && info.dli_sname != nullptr) {
      frame.symbols.push_back(SymbolInfo{demangle(info.dli_sname), {}, 0, 0});
    }
  }
}
#endif

}  // namespace

std::vector<StackFrame> capture_stack(std::size_t max_frames) {
  std::vector<StackFrame> frames;
  Walk walk{&frames, max_frames};
  _Unwind_Backtrace(on_frame, &walk);
  resolve_all(frames);
  return frames;
}

}  // namespace quorvel::platform
