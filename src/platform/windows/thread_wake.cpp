#include "platform/thread_wake.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/windows_headers.h"

namespace quorvel::platform {

// The thread is known by its identifier, which stays its own while it runs; a wake opens it for
// as long as it takes to cancel its synchronous read, which then fails with
// ERROR_OPERATION_ABORTED (File::read turns that into an interruption when the check says stop).
WakeableThread WakeableThread::current() noexcept { return WakeableThread(::GetCurrentThreadId()); }

void WakeableThread::wake() const noexcept {
  const windows::UniqueHandle thread(::OpenThread(THREAD_TERMINATE, FALSE, static_cast<DWORD>(native_)));
  if (thread) ::CancelSynchronousIo(thread.get());
}

}  // namespace quorvel::platform
