#include "platform/shortcut.h"

// Linux has no shortcut files: a name ending in ".lnk" is an ordinary file and is opened
// as it is.
void ResolveShortcut(char* out, const char* path) {
  size_t length = 0;
  for (; path[length] != '\0' && length < SHORTCUT_PATH_SIZE - 1; ++length) {
    out[length] = path[length];
  }
  out[length] = '\0';
}
