#include "base/check.h"

#include <cstdio>
#include <cstdlib>

#include "base/messages.h"

void CheckFailed(const char* condition, const char* module, int line) {
  Say("Assertion (%s) failed in \"%s\" on line %d\n", condition, module, line);
  std::fflush(MessageStream());
  // exit() rather than abort(): the handlers registered with atexit (terminal restore)
  // must still run.
  std::exit(1);
}
