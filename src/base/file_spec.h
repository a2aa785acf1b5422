#pragma once
// File specifications: a path in a fixed buffer as long as the system's longest path,
// combined with further paths (a relative name replaces the last component), its name part
// for messages, and opening it.

#include "platform/descriptor.h"
#include "platform/shortcut.h"

// How paths are spelled: Windows (both slashes separate, drive prefixes, names after the
// last backslash) or POSIX (only '/' separates; ':' and '\' are ordinary characters).
enum class PathStyle { Windows, Posix };

class FileSpec {
 public:
  // Bytes of path: the system's limit (PATH_MAX), so at most kPathSize - 1 characters are
  // kept; the system refuses any longer path anyway.
  static constexpr int kPathSize = static_cast<int>(SHORTCUT_PATH_SIZE);

  // A spec naming the current directory ("./" or ".\").
  explicit FileSpec(PathStyle style = PathStyle::Posix);

  // Combines `new_path` with the current path (absolute replaces, relative replaces the
  // last component). Paths are cut at kPathSize - 1 characters without a message; a cut
  // path names some other file, so Open refuses it.
  void Set(const char* new_path);

  // Copies the name part of the path (after the last separator of the style) into `out`,
  // which holds at least kPathSize bytes.
  void GetName(char* out) const;

  // The path as text.
  const char* Path() const { return path_; }

  // True when Set had to cut the path: it names some other file than the one meant.
  bool WasCut() const { return cut_; }

  // Opens the path (a shortcut resolved first where the platform has them) for reading;
  // holds no descriptor when it cannot be opened (errno says why) or was cut (errno 0).
  FileDescriptor OpenForReading() const;

 private:
  PathStyle style_;
  char path_[kPathSize];
  bool cut_ = false;  // Set had to cut the path (or the directory part it kept)
};
