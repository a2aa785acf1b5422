#pragma once
// Scratch files: files that only their descriptor keeps. Each is created under a unique,
// unpredictable name, private to this user, and its name is removed at once, so nothing is
// left behind however the process ends (an error, a signal, even SIGKILL); and writes that
// report every failure.

#include <cstddef>
#include <string>

#include "platform/descriptor.h"

// ---- Creating ------------------------------------------------------------------------------
// Creates the file `prefix` + random letters and digits + `suffix` (prefix holds the
// directory) for reading and writing, mode 0600, exclusively and never through a link, and
// removes its name before returning. The ending signals are held back in between, so that
// no signal ends the program while the name exists. No descriptor when it cannot be made
// (or its name cannot be removed); errno then says why.
FileDescriptor CreateNamelessFile(const std::string& prefix, const char* suffix);

// The system's directory for temporary files: $TMPDIR when set and not empty, else /tmp.
std::string TemporaryDirectory();

// ---- Writing -------------------------------------------------------------------------------
// Writes all `size` bytes at the descriptor's position, again after an interruption or a
// short write. False when the system refuses; errno says why (ENOSPC when a write stores
// nothing without giving a reason).
bool WriteFully(int fd, const void* bytes, size_t size);
