// Stack walking with the unwind tables every x86-64 image carries, and symbol names and source
// lines from the system's symbol library, loaded the first time a backtrace needs it.

// The symbol library's header needs the general Windows headers first.
#include "platform/windows/windows_headers.h"

#include <dbghelp.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/demangle.h"
#include "platform/static_instance.h"
#include "platform/process.h"
#include "platform/windows/library_lookup.h"
#include "platform/windows/wide_text.h"

namespace quorvel::platform {
namespace {

using SymSetOptionsFn = DWORD(WINAPI*)(DWORD);
using SymInitializeWFn = BOOL(WINAPI*)(HANDLE, PCWSTR, BOOL);
using SymFromAddrWFn = BOOL(WINAPI*)(HANDLE, DWORD64, PDWORD64, PSYMBOL_INFOW);
using SymGetLineFromAddrW64Fn = BOOL(WINAPI*)(HANDLE, DWORD64, PDWORD, PIMAGEHLP_LINEW64);

// The symbol library, set up once per process and never released. Its calls are not safe from
// several threads at once, so every use holds `lock`.
struct SymbolLibrary {
  std::mutex lock;
  bool ready = false;
  SymFromAddrWFn from_address = nullptr;
  SymGetLineFromAddrW64Fn line_from_address = nullptr;

  SymbolLibrary() {
    HMODULE library = ::LoadLibraryW(L"dbghelp.dll");
    if (library == nullptr) return;
    const auto set_options = windows::lookup_function<SymSetOptionsFn>(library, "SymSetOptions");
    const auto initialize = windows::lookup_function<SymInitializeWFn>(library, "SymInitializeW");
    from_address = windows::lookup_function<SymFromAddrWFn>(library, "SymFromAddrW");
    line_from_address = windows::lookup_function<SymGetLineFromAddrW64Fn>(library, "SymGetLineFromAddrW64");
    if (set_options == nullptr || initialize == nullptr || from_address == nullptr) return;
    set_options(SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
    ready = initialize(::GetCurrentProcess(), nullptr, TRUE) != FALSE;
  }
};

SymbolLibrary& symbol_library() {
  static StaticInstance<SymbolLibrary> library;  // never destroyed: backtraces may come during exit
  return library.get();
}

void resolve(SymbolLibrary& library, StackFrame& frame) {
  const HANDLE process = ::GetCurrentProcess();
  // SYMBOL_INFOW ends in the first unit of the name; the name's room follows it.
  constexpr std::size_t name_units = 1024;
  struct {
    SYMBOL_INFOW info;
    wchar_t room[name_units];
  } symbol{};
  symbol.info.SizeOfStruct = sizeof(SYMBOL_INFOW);
  symbol.info.MaxNameLen = name_units;
  DWORD64 displacement = 0;
  if (!library.from_address(process, frame.address, &displacement, &symbol.info)) return;
  SymbolInfo found;
  found.name = demangle(windows::to_utf8_lossy(std::wstring_view(symbol.info.Name, symbol.info.NameLen)));
  if (library.line_from_address != nullptr) {
    IMAGEHLP_LINEW64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD column = 0;
    if (library.line_from_address(process, frame.address, &column, &line) && line.FileName != nullptr) {
      found.file = windows::to_utf8_lossy(line.FileName);
      found.line = line.LineNumber;
    }
  }
  frame.symbols.push_back(std::move(found));
}

}  // namespace

std::vector<StackFrame> capture_stack(std::size_t max_frames) {
  std::vector<StackFrame> frames;
  CONTEXT context{};
  ::RtlCaptureContext(&context);
  DWORD64 last_ip = 0;
  DWORD64 last_sp = 0;
  while (frames.size() < max_frames) {
    const DWORD64 ip = context.Rip;
    if (ip == 0) break;
    if (!frames.empty() && ip == last_ip && context.Rsp == last_sp) break;
    last_ip = ip;
    last_sp = context.Rsp;
    DWORD64 image_base = 0;
    PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(ip, &image_base, nullptr);
    if (function == nullptr) break;
    // A return address points after the call; look up the call itself.
    frames.push_back(StackFrame{static_cast<std::uintptr_t>(ip - 1), {}});
    PVOID handler_data = nullptr;
    DWORD64 establisher_frame = 0;
    ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, ip, function, &context, &handler_data,
                       &establisher_frame, nullptr);
  }
  SymbolLibrary& library = symbol_library();
  const std::lock_guard guard(library.lock);
  if (library.ready) {
    for (StackFrame& frame : frames) resolve(library, frame);
  }
  return frames;
}

}  // namespace quorvel::platform
