#include <pthread.h>
#include <signal.h>

#include <type_traits>

#include "platform/thread_wake.h"

namespace quorvel::platform {
namespace {

static_assert(std::is_integral_v<pthread_t> && sizeof(pthread_t) <= sizeof(std::uintptr_t));

// SIGURG: ignored by default and raised by the kernel only for a socket's urgent data when the
// process asked for it, so a handler of ours changes nothing else. Installed without SA_RESTART,
// so that the signal interrupts the blocked call instead of resuming it. A handler someone else
// installed is left alone (the wake then works only if it does not restart calls either).
constexpr int wake_signal = SIGURG;

void on_wake(int) {}

void install_handler_once() noexcept {
  static const bool installed = [] {
    struct sigaction current {};
    if (::sigaction(wake_signal, nullptr, &current) != 0) return false;
    if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) return false;
    struct sigaction action {};
    action.sa_handler = &on_wake;
    ::sigemptyset(&action.sa_mask);
    return ::sigaction(wake_signal, &action, nullptr) == 0;
  }();
  (void)installed;
}

}  // namespace

WakeableThread WakeableThread::current() noexcept {
  install_handler_once();
  return WakeableThread(static_cast<std::uintptr_t>(::pthread_self()));
}

void WakeableThread::wake() const noexcept { ::pthread_kill(static_cast<pthread_t>(native_), wake_signal); }

}  // namespace quorvel::platform
