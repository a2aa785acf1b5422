#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/shortcut.h"

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The file to remove, written only while `removal_armed` is 0, so the handler never reads
// a half-copied path.
char removal_path[SHORTCUT_PATH_SIZE];
volatile sig_atomic_t removal_armed = 0;

bool installed = false;
sigset_t held_mask;  // the mask in force before HoldEndingSignals

// Only async-signal-safe calls: unlink, tcsetattr (inside the console restore) and _exit.
extern "C" void EndRun(int signal_number) {
  if (removal_armed != 0) unlink(removal_path);
  RestoreConsoleFromSignal();
  _exit(128 + signal_number);
}

void RemoveAtExit() {
  if (removal_armed != 0) unlink(removal_path);
  removal_armed = 0;
}

sigset_t EndingSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kEndingSignals) sigaddset(&set, signal_number);
  return set;
}

}  // namespace

void InstallSignalHandlers() {
  if (installed) return;
  installed = true;
  std::atexit(RemoveAtExit);
  for (int signal_number : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = EndRun;
    action.sa_mask = EndingSet();  // one ending signal at a time
    sigaction(signal_number, &action, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
}

void EndQuietlyOnClosedPipe() {
  signal(SIGPIPE, SIG_DFL);
}

void EndRunNow(int status) {
  if (removal_armed != 0) unlink(removal_path);
  RestoreConsoleFromSignal();
  _exit(status);
}

void HoldEndingSignals() {
  const sigset_t set = EndingSet();
  sigprocmask(SIG_BLOCK, &set, &held_mask);
}

void ReleaseEndingSignals() {
  sigprocmask(SIG_SETMASK, &held_mask, nullptr);
}

bool RemoveOnSignal(const char* path) {
  removal_armed = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const size_t length = std::strlen(path);
  if (length >= sizeof removal_path) return false;
  std::memcpy(removal_path, path, length + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  removal_armed = 1;
  return true;
}

void ForgetRemoveOnSignal() {
  removal_armed = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

EndingSignalsHeldHere::EndingSignalsHeldHere() {
  static_assert(sizeof(sigset_t) <= sizeof saved_mask_);
  const sigset_t ending = EndingSet();
  pthread_sigmask(SIG_BLOCK, &ending, reinterpret_cast<sigset_t*>(saved_mask_));
}

EndingSignalsHeldHere::~EndingSignalsHeldHere() {
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_mask_), nullptr);
}

EndingSignalsBlockedForNewThreads::EndingSignalsBlockedForNewThreads() {
  static_assert(sizeof(sigset_t) <= sizeof saved_mask_);
  sigset_t ending;
  sigemptyset(&ending);
  for (int signal_number : kEndingSignals) sigaddset(&ending, signal_number);
  pthread_sigmask(SIG_BLOCK, &ending, reinterpret_cast<sigset_t*>(saved_mask_));
}

EndingSignalsBlockedForNewThreads::~EndingSignalsBlockedForNewThreads() {
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_mask_), nullptr);
}
