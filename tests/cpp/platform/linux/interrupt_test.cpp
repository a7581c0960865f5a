// A blocking open or read interrupted by a signal asks the caller's check: retry, or stop the
// call with CallerError (no failure, no report). The reader blocks on a FIFO; another thread
// keeps signalling it (the handler is installed without SA_RESTART, as the interpreter does).

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "failure/caller_error.h"
#include "reader/readers/list_reader.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

enum class Writer { None, Complete, Stalls };

struct InterruptCase {
  const char* name;
  Writer writer;
  int stop_at_call;  // the check says stop on this call (1 = the first); 0: never
  bool expect_result;
};

void PrintTo(const InterruptCase& c, std::ostream* out) { *out << c.name; }

class ReaderInterrupt : public testing::TestWithParam<InterruptCase> {};

struct CheckState {
  std::atomic<int> calls{0};
  int stop_at_call = 0;
};

TEST_P(ReaderInterrupt, AsksTheCheckOnEveryInterruption) {
  const InterruptCase& param = GetParam();
  test_support::TempFile placeholder("");
  const std::string fifo = placeholder.path() + ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct sigaction action {};
  action.sa_handler = [](int) {};
  ::sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

  CheckState state;
  state.stop_at_call = param.stop_at_call;
  const platform::InterruptCheck check{
      .stop = [](void* context) {
        auto& s = *static_cast<CheckState*>(context);
        const int call = ++s.calls;
        return s.stop_at_call != 0 && call >= s.stop_at_call;
      },
      .context = &state};

  std::atomic<bool> done{false};
  const pthread_t reader_thread = ::pthread_self();
  std::thread signaller([&] {
    while (!done) {
      ::pthread_kill(reader_thread, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::thread writer([&] {
    if (param.writer == Writer::None) return;
    while (state.calls < 3 && param.writer == Writer::Complete) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Without blocking, so that a reader that stopped cannot leave this thread waiting.
    int fd;
    while ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
      if (done) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::fcntl(fd, F_SETFL, 0);
    const std::string text = param.writer == Writer::Complete ? "H 2\na\nb\n--\n         1.5         2.5\n" : "H 2\na";
    EXPECT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
    while (param.writer == Writer::Stalls && !done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::close(fd);
  });

  std::optional<ColumnData> result;
  bool stopped = false;
  try {
    result.emplace(read_plot_file(fifo, 12, check));
  } catch (const CallerError&) {
    stopped = true;
  }
  done = true;
  signaller.join();
  writer.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  ::unlink(fifo.c_str());

  EXPECT_EQ(result.has_value(), param.expect_result);
  EXPECT_EQ(stopped, !param.expect_result);
  if (param.stop_at_call != 0) {
    EXPECT_EQ(state.calls.load(), param.stop_at_call);
  }
  if (result) {
    EXPECT_EQ(result->first.size(), 1u);
    EXPECT_EQ(result->others.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Fifo, ReaderInterrupt, testing::Values(
    InterruptCase{"OpenWithoutWriterStops", Writer::None, 1, false},
    InterruptCase{"OpenStopsOnTheThirdAsking", Writer::None, 3, false},
    InterruptCase{"StalledReadStops", Writer::Stalls, 5, false},
    InterruptCase{"RetriedUntilTheWriterComes", Writer::Complete, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
