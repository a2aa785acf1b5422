#include "platform/descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int FileDescriptor::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileDescriptor::Reset() {
  // A close interrupted by a signal has still released the descriptor on Linux: never retry.
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

FileDescriptor OpenForReading(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return FileDescriptor(fd);
}

FileDescriptor DuplicateDescriptor(int fd) {
  return FileDescriptor(fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1);
}

namespace {

FileFacts FactsFrom(const struct stat& info) {
  FileFacts facts;
  facts.known = true;
  facts.regular = S_ISREG(info.st_mode);
  facts.device = static_cast<uint64_t>(info.st_dev);
  facts.inode = static_cast<uint64_t>(info.st_ino);
  facts.size = facts.regular ? static_cast<int64_t>(info.st_size) : 0;
  return facts;
}

}  // namespace

FileFacts FactsOf(int fd) {
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) return {};
  return FactsFrom(info);
}

FileFacts FactsOfPath(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) return {};
  return FactsFrom(info);
}

bool IsSameFile(const FileFacts& a, const FileFacts& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

int64_t ReadSome(int fd, void* out, size_t want) {
  for (;;) {
    const ssize_t n = read(fd, out, want);
    if (n >= 0 || errno != EINTR) return n;
  }
}

int64_t ReadAt(int fd, void* out, size_t want, int64_t offset) {
  for (;;) {
    const ssize_t n = pread(fd, out, want, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

int64_t PositionOf(int fd) {
  return lseek(fd, 0, SEEK_CUR);
}

bool SeekTo(int fd, int64_t offset) {
  return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}
