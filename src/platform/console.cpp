#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace {

termios saved_mode;  // the terminal's mode before PollConsole changed it
// The terminal is in raw mode and saved_mode restores it. Read by the signal handler.
volatile std::sig_atomic_t mode_changed = 0;
bool restore_registered = false;  // RestoreConsole runs at exit

void RestoreAtExit() {
  RestoreConsole();
}

// Signals that end the program without running the exit handlers (Ctrl+C and Ctrl+\ are
// ordinary keys in raw mode).
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP};

// Gives the terminal its mode back, then lets the signal end the program as it would have.
extern "C" void RestoreAndEnd(int signal_number) {
  if (mode_changed != 0) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Catches the ending signals whose action is still the default; one that is ignored (as
// under nohup) or handled elsewhere stays as it is.
void RestoreOnEndingSignals() {
  for (int signal_number : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RestoreAndEnd;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

// Raw input without touching output processing, so printed lines still end as usual.
// The restore is registered first: a terminal is never left changed with no way back.
bool EnterRawMode() {
  if (!restore_registered) {
    restore_registered = std::atexit(RestoreAtExit) == 0;
    if (restore_registered) RestoreOnEndingSignals();
  }
  if (!restore_registered) return false;
  termios mode;
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return false;
  saved_mode = mode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  // TCSANOW, not TCSAFLUSH: keys already typed stay pending for the polls.
  if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) return false;
  mode_changed = 1;
  return true;
}

// The terminal is the controlling terminal of this session and another process group is
// in its foreground: this is a background job, which the terminal would stop (SIGTTOU,
// SIGTTIN) on a mode change or a read. A terminal that is not ours to control has no
// foreground group for us (-1) and is polled as usual.
bool InBackground() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground != -1 && foreground != getpgrp();
}

}  // namespace

void PollConsole() {
  if (isatty(STDIN_FILENO) == 0 || InBackground()) return;
  if (!mode_changed && !EnterRawMode()) return;
  pollfd pending{STDIN_FILENO, POLLIN, 0};
  if (poll(&pending, 1, 0) != 1 || (pending.revents & POLLIN) == 0) return;
  char key;
  const ssize_t discarded = read(STDIN_FILENO, &key, 1);  // the key has no effect
  static_cast<void>(discarded);
}

void RestoreConsole() {
  if (mode_changed == 0) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
  mode_changed = 0;
}
