#include "platform/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kAttempts = 100;  // names tried before giving up on a crowded directory
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Fills `out` with random bytes from the kernel. Should the kernel's source fail (it does
// not on any supported system), the clock and the process id still make the name unique,
// just not unpredictable.
void RandomBytes(unsigned char* out, size_t count) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = getrandom(out + got, count - got, GRND_NONBLOCK);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  uint64_t mix =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<uint64_t>(getpid()) << 32);
  for (; got < count; ++got) {
    mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
    out[got] = static_cast<unsigned char>(mix >> 56);
  }
}

}  // namespace

namespace {

// Tries random names until `open` with `flags` creates one; -1 when none could be created.
int OpenUniqueName(const std::string& prefix, const char* suffix, int flags, mode_t mode,
                   std::string& path) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    unsigned char random[kUniqueRandomCharacters];  // 62^12 names: none guessed in advance
    RandomBytes(random, sizeof random);
    std::string name = prefix;
    for (unsigned char byte : random) name += kAlphabet[byte % (sizeof kAlphabet - 1)];
    name += suffix;
    const int fd = open(name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      path = std::move(name);
      return fd;
    }
    if (errno != EEXIST && errno != EINTR) return -1;  // a missing directory, no rights, ...
  }
  return -1;
}

}  // namespace

int CreateUniqueFile(const std::string& prefix, const char* suffix, std::string& path) {
  return OpenUniqueName(prefix, suffix, O_WRONLY, 0666, path);
}

int CreatePrivateUniqueFile(const std::string& prefix, const char* suffix, std::string& path) {
  return OpenUniqueName(prefix, suffix, O_RDWR, 0600, path);
}

std::FILE* WriteStreamOn(int fd) {
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  std::FILE* stream = fdopen(copy, "wb");
  if (stream == nullptr) close(copy);
  return stream;
}

bool TakeModeAndGroup(int fd, const char* path) {
  struct stat old {};
  // Only a regular file of this user's lends its mode: a file someone else placed at the
  // name (in a directory others can write) must not make the merged log theirs to write.
  if (lstat(path, &old) != 0 || !S_ISREG(old.st_mode) || old.st_uid != geteuid()) return true;
  // The group first: a change of group may clear mode bits, and the mode is meant to hold
  // for the new group. Only a member of the group (or root) may give it.
  if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
    // Not a group of ours: the file keeps the group it was created with.
  }
  return fchmod(fd, old.st_mode & 0777) == 0;
}

bool SyncFile(int fd) {
  while (fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool SyncDirectoryOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const std::string directory =
      slash == nullptr ? std::string(".") : std::string(path, slash == path ? 1 : slash - path);
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = true;
  while (fsync(fd) != 0) {
    if (errno == EINTR) continue;
    synced = errno == EINVAL || errno == ENOTSUP;  // not supported here: nothing to do
    break;
  }
  close(fd);
  return synced;
}

void CloseFile(int fd) {
  close(fd);
}
