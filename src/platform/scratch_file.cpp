#include "platform/scratch_file.h"

#include <errno.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/replace_file.h"
#include "platform/signals.h"

FileDescriptor CreateNamelessFile(const std::string& prefix, const char* suffix) {
  const EndingSignalsHeldHere held;
  std::string path;
  FileDescriptor file(CreatePrivateUniqueFile(prefix, suffix, path));
  if (file.IsOpen() && unlink(path.c_str()) != 0) {
    const int reason = errno;
    file.Reset();
    errno = reason;
  }
  return file;
}

std::string TemporaryDirectory() {
  const char* directory = std::getenv("TMPDIR");
  return directory != nullptr && directory[0] != '\0' ? directory : "/tmp";
}

bool WriteFully(int fd, const void* bytes, size_t size) {
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t n = write(fd, next, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    next += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
