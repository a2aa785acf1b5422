#include "entries/check.h"

#include <cstdio>
#include <cstdlib>

void CheckFailed(const char* condition, const char* module, int line) {
  std::printf("Assertion (%s) failed in \"%s\" on line %d\n", condition, module, line);
  std::fflush(stdout);
  // exit() rather than abort(): the handlers registered with atexit (terminal restore)
  // must still run.
  std::exit(1);
}
