#pragma once
// Replacing a file safely in a directory others may write to: the new content goes into a
// new file of a unique, unpredictable name beside the final one, which is made durable and
// given the old file's mode and group before it is renamed over the final name. What is not
// a file (a device, a FIFO, a socket) is written in place instead.

#include <cstddef>
#include <cstdio>
#include <string>

// ---- A new file nobody prepared -------------------------------------------------------------
// Characters (letters and digits) of the random part of a CreateUniqueFile name.
inline constexpr size_t kUniqueRandomCharacters = 12;

// Creates a new file named `prefix` + random letters and digits + `suffix` for writing,
// exclusively and without following links: whatever already has a name there (a file, a
// symlink, a FIFO) is never opened, truncated or waited on; another name is tried instead.
// Mode 0666 less the umask. Returns the descriptor and sets `path`; -1 when no file could
// be created.
int CreateUniqueFile(const std::string& prefix, const char* suffix, std::string& path);

// The same for scratch space: open for reading and writing, and readable and writable by
// this user alone (mode 0600, whatever the umask).
int CreatePrivateUniqueFile(const std::string& prefix, const char* suffix, std::string& path);

// A buffered stream writing to a duplicate of `fd` (the caller keeps `fd` open for
// SyncFile); null when it cannot be made.
std::FILE* WriteStreamOn(int fd);

// ---- Faithful and durable replacement -------------------------------------------------------
// Gives the file open on `fd` the permission bits and group of the regular file named
// `path`, when there is one and it belongs to this user (a symlink, any other kind of file
// or another user's file lends nothing). A group the user may not give is left as it was.
// False when the mode could not be set.
bool TakeModeAndGroup(int fd, const char* path);

// Writes the file's data through to the disk; false when the system reports a failure.
bool SyncFile(int fd);

// Writes the directory holding `path` through to the disk, so that a rename into it
// survives a power loss. A file system that cannot sync directories counts as done.
bool SyncDirectoryOf(const char* path);

// Closes a descriptor from CreateUniqueFile or OpenInPlace.
void CloseFile(int fd);

// ---- Writing in place ------------------------------------------------------------------------
// What a path leads to, links followed. Only a regular file (or nothing yet) is replaced; a
// character device, FIFO or socket is written in place, as a shell's redirection does;
// anything else cannot take the merged log.
enum class NodeKind {
  Missing,
  Regular,
  Directory,
  CharacterDevice,
  Fifo,
  Socket,
  BlockDevice,
  Other
};

// The kind of node `path` leads to; Missing for nothing there, or a dangling link.
NodeKind KindOfNode(const char* path);

// True for the kinds written in place.
constexpr bool WrittenInPlace(NodeKind kind) {
  return kind == NodeKind::CharacterDevice || kind == NodeKind::Fifo || kind == NodeKind::Socket;
}

// How OpenInPlace went: `fd` open for writing, of `kind`; or -1, with `kind` what was found
// (Regular or Missing: the node changed since it was looked at, and is to be replaced after
// all) and `error` the system's reason when opening failed.
struct InPlaceOpen {
  int fd = -1;
  NodeKind kind = NodeKind::Other;
  int error = 0;
};

// Opens `path` for writing without creating, truncating or replacing it: a character device
// or a FIFO is opened (a FIFO waits for its reader, as a shell's redirection does, and a
// terminal never becomes the controlling one), a socket is connected to. The kind is taken
// from the descriptor opened, never from an earlier look at the path, so a node swapped in
// between is seen for what it is: a regular file or a directory is closed unwritten.
InPlaceOpen OpenInPlace(const char* path);
