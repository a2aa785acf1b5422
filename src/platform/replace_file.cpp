#include "platform/replace_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
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

namespace {

NodeKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return NodeKind::Regular;
  if (S_ISDIR(mode)) return NodeKind::Directory;
  if (S_ISCHR(mode)) return NodeKind::CharacterDevice;
  if (S_ISFIFO(mode)) return NodeKind::Fifo;
  if (S_ISSOCK(mode)) return NodeKind::Socket;
  if (S_ISBLK(mode)) return NodeKind::BlockDevice;
  return NodeKind::Other;
}

NodeKind KindOfDescriptor(int fd) {
  struct stat facts {};
  return fstat(fd, &facts) == 0 ? KindOfMode(facts.st_mode) : NodeKind::Other;
}

// Connects a stream socket to the socket `node` (a descriptor of it opened with O_PATH),
// through its /proc name: that reaches the very node examined, and does not depend on the
// length of its path.
InPlaceOpen ConnectTo(int node) {
  InPlaceOpen result{-1, NodeKind::Socket, 0};
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d", node);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  while (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno == EINTR) continue;
    result.error = errno;
    close(fd);
    return result;
  }
  result.fd = fd;
  return result;
}

}  // namespace

NodeKind KindOfNode(const char* path) {
  struct stat facts {};
  if (stat(path, &facts) != 0) return errno == ENOENT ? NodeKind::Missing : NodeKind::Other;
  return KindOfMode(facts.st_mode);
}

InPlaceOpen OpenInPlace(const char* path) {
  InPlaceOpen result;
  int fd = -1;
  do {
    fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    result.kind = KindOfDescriptor(fd);
    if (result.kind == NodeKind::CharacterDevice || result.kind == NodeKind::Fifo) {
      result.fd = fd;
    } else {
      close(fd);  // swapped for something else since it was looked at: nothing written
    }
    return result;
  }
  result.error = errno;
  // A socket cannot be opened, only connected to; any other failure keeps its reason.
  const int node = open(path, O_PATH | O_CLOEXEC);
  if (node < 0) {
    if (errno == ENOENT) result.kind = NodeKind::Missing;
    return result;
  }
  result.kind = KindOfDescriptor(node);
  if (result.kind == NodeKind::Socket) result = ConnectTo(node);
  close(node);
  return result;
}
