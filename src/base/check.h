#pragma once
// Internal consistency checks.
//
// A failed check prints "Assertion (<condition>) failed in "<module>" on line <n>"
// on standard output and ends the program with exit status 1. Unlike assert(), the
// checks stay in every build.

// Prints the internal-check report and exits with status 1.
[[noreturn]] void CheckFailed(const char* condition, const char* module, int line);

// Checks `cond`; the report shows the condition exactly as written in the source.
#define STITCHER_CHECK(module, cond)                   \
  do {                                                 \
    if (!(cond)) CheckFailed(#cond, module, __LINE__); \
  } while (0)

// Reports a failure whose text is not a condition, such as "Ran out of memory!".
#define STITCHER_FAIL(module, text) CheckFailed(text, module, __LINE__)
