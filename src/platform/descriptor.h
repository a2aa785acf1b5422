#pragma once
// Open files as raw descriptors: an owner that closes its descriptor exactly once, opening a
// path for reading, what one fstat tells about an open file, and reads that retry when a
// signal interrupts them. Inputs are read through these rather than buffered streams, so
// thousands of open inputs cost no stream list to walk at each close.

#include <cstddef>
#include <cstdint>

// ---- Ownership ---------------------------------------------------------------------------
// Owns one descriptor (or none: -1) and closes it when reset or destroyed. Move-only.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Gives up ownership: the caller closes the descriptor returned.
  int Release();
  // Closes the descriptor, if any; the owner then holds none.
  void Reset();

 private:
  int fd_ = -1;
};

// ---- Opening -------------------------------------------------------------------------------
// Opens `path` for reading (close-on-exec, never becoming the controlling terminal). Holds
// no descriptor when it cannot be opened; errno then says why.
FileDescriptor OpenForReading(const char* path);

// A duplicate of `fd` that the caller owns; none when it cannot be made.
FileDescriptor DuplicateDescriptor(int fd);

// ---- What the file is ------------------------------------------------------------------
// From one fstat of an open file.
struct FileFacts {
  bool known = false;    // fstat succeeded; nothing below is set otherwise
  bool regular = false;  // a regular file: its size is meaningful and it can seek
  uint64_t device = 0;   // device and inode: the file's identity, however it was named
  uint64_t inode = 0;
  int64_t size = 0;  // bytes, for a regular file
};
FileFacts FactsOf(int fd);

// The same for a path, without opening it (a file that does not exist is not `known`).
FileFacts FactsOfPath(const char* path);

// True when both are known and name one file.
bool IsSameFile(const FileFacts& a, const FileFacts& b);

// ---- Reading ---------------------------------------------------------------------------
// Reads up to `want` bytes at the descriptor's position into `out`, again after a signal
// interrupts it. Returns the bytes read, 0 at the end of the file, -1 on an error.
int64_t ReadSome(int fd, void* out, size_t want);
// The same at byte `offset`, leaving the descriptor's position alone.
int64_t ReadAt(int fd, void* out, size_t want, int64_t offset);
// The descriptor's position; -1 when it has none (a pipe, a terminal, a socket).
int64_t PositionOf(int fd);
// Moves the descriptor's position to `offset`; false when it cannot.
bool SeekTo(int fd, int64_t offset);
