#pragma once
// Death tests match what the dying child writes on standard error, while the program's
// internal-check report goes to standard output: send one to the other in the child.

#include <unistd.h>

#include <cstdio>

namespace testing_support {

inline void ReportToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

}  // namespace testing_support
