#include "platform/system.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

bool LocalTime(int64_t seconds, std::tm& out) {
  const time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void UseSmallThreadStacks() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // A sanitizer's frames are several times larger: its builds keep the default.
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return;
  if (pthread_attr_setstacksize(&attributes, kThreadStack) == 0) {
    pthread_setattr_default_np(&attributes);
  }
  pthread_attr_destroy(&attributes);
#endif
}

int64_t RaiseOpenFileLimit(int64_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur != RLIM_INFINITY && static_cast<int64_t>(limit.rlim_cur) < wanted) {
    rlim_t target = static_cast<rlim_t>(wanted);
    if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
    limit.rlim_cur = target;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur == RLIM_INFINITY ? INT64_MAX : static_cast<int64_t>(limit.rlim_cur);
}

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

std::FILE* OpenRegularFile(const char* path, int64_t max_bytes, RegularFileOpen& outcome) {
  // Non-blocking so that opening a FIFO with no writer returns at once; the flag is
  // cleared again before the stream reads.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    outcome = errno == ENOENT ? RegularFileOpen::Missing : RegularFileOpen::Failed;
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int reason = errno;
    close(fd);
    errno = reason;
    outcome = RegularFileOpen::Failed;
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    outcome = RegularFileOpen::NotRegular;
    return nullptr;
  }
  if (info.st_size > max_bytes) {
    close(fd);
    outcome = RegularFileOpen::TooLarge;
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "r");
  if (file == nullptr) {
    const int reason = errno;
    close(fd);
    errno = reason;
    outcome = RegularFileOpen::Failed;
    return nullptr;
  }
  outcome = RegularFileOpen::Opened;
  return file;
}

std::FILE* OpenStandardOutputCopy() {
  const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}
