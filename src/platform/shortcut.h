#pragma once
// Shortcut files: small files that stand for another file (Windows ".lnk" links). Linux
// has none, so here every name stands for itself.

#include <climits>
#include <cstddef>

// Bytes of the buffer ResolveShortcut writes into: the system's longest path (PATH_MAX,
// its terminating NUL included).
inline constexpr size_t SHORTCUT_PATH_SIZE = PATH_MAX;

// Writes into `out` (SHORTCUT_PATH_SIZE bytes) the name of the file that `path` stands
// for: the target of a shortcut file on a platform that has them, otherwise `path`
// itself, cut to fit the buffer. Whatever fails, `out` holds `path`.
void ResolveShortcut(char* out, const char* path);
