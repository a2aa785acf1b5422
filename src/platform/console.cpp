#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "platform/signals.h"

namespace {

termios saved_mode;  // the terminal's mode before PollConsole changed it
// The terminal is in raw mode and saved_mode restores it. Read by the signal handler.
volatile std::sig_atomic_t mode_changed = 0;
bool restore_registered = false;  // RestoreConsole runs at exit

void RestoreAtExit() {
  RestoreConsole();
}

// Raw input without touching output processing, so printed lines still end as usual.
// The signal keys stay as the user set them (ISIG untouched), so Ctrl+C still interrupts;
// only the quit and suspend keys become plain keys, since a core dump or a stop would
// leave the terminal raw. The restore is registered first,
// for an exit and for the ending signals: a terminal is never left changed with no way
// back.
bool EnterRawMode() {
  if (!restore_registered) {
    restore_registered = std::atexit(RestoreAtExit) == 0;
    if (restore_registered) InstallSignalHandlers();
  }
  if (!restore_registered) return false;
  termios mode;
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return false;
  saved_mode = mode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  mode.c_cc[VQUIT] = _POSIX_VDISABLE;
  mode.c_cc[VSUSP] = _POSIX_VDISABLE;
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

void RestoreConsoleFromSignal() {
  if (mode_changed != 0) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
}
