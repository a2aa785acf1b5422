#include "base/resource_limits.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <thread>

#include "base/messages.h"
#include "platform/signals.h"
#include "platform/system.h"

namespace {

// Prints a line on the message channel as far as it can be printed: no allocation, and the
// channel flushed, since the run ends without the exit handlers that would flush it.
void SayNow(const char* first, const char* second) {
  std::FILE* stream = MessageStream();
  std::fputs(first, stream);
  if (second != nullptr) {
    std::fputs(": ", stream);
    std::fputs(second, stream);
  }
  std::fputs(".\n", stream);
  std::fflush(stream);
}

void OnFailedAllocation() {
  EndOutOfMemory();
}

// An exception that escaped: its reason, then the same clean end as for memory.
void OnUncaughtException() {
  try {
    const std::exception_ptr escaped = std::current_exception();
    if (escaped) std::rethrow_exception(escaped);
  } catch (const std::bad_alloc&) {
    EndOutOfMemory();
  } catch (const std::exception& error) {
    SayNow("Internal error", error.what());
    EndRunNow(1);
  } catch (...) {
  }
  SayNow("Internal error", nullptr);
  EndRunNow(1);
}

std::atomic<bool> threads_noted{false};

}  // namespace

void EndOutOfMemory(const char* what) {
  // One thread reports; another that runs out at the same moment waits to be ended with it.
  static std::atomic<bool> ending{false};
  if (ending.exchange(true)) {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  SayNow("Out of memory", what);
  EndRunNow(1);
}

void InstallResourceHandlers() {
  std::set_new_handler(OnFailedAllocation);
  std::set_terminate(OnUncaughtException);
  UseSmallThreadStacks();
}

void NoteThreadsStarted(int asked, int started) {
  if (started >= asked || threads_noted.exchange(true)) return;
  Say("Note: the system let only %d of %d worker threads start; the run goes on with %s.\n",
      started, asked, started == 0 ? "none" : "those");
}
