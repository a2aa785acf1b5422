#include "base/file_spec.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace {

// Set never writes beyond this offset, so a path holds at most kPathSize - 1 characters.
constexpr int PATH_LIMIT = FileSpec::kPathSize - 1;

constexpr const char* INITIAL_PATHS[] = {".\\", "./"};  // by PathStyle: Windows, POSIX

bool IsWindowsSeparator(char c) {
  return c == '\\' || c == '/';
}

// A letter followed by a colon.
bool HasDrivePrefix(const char* path) {
  return IsLetter(path[0]) && path[1] == ':';
}

// Offset just after the last character of `path` for which `ends_directory` holds, or 0.
template <typename Predicate>
int AfterLast(const char* path, Predicate ends_directory) {
  int after = 0;
  for (int i = 0; path[i] != '\0'; ++i) {
    if (ends_directory(path[i])) after = i + 1;
  }
  return after;
}

// Windows paths: the write position for `p` in `path`. A drive-relative `p` puts its
// drive letter in place at once (inserting a drive prefix when `path` has none, which
// pushes out the last characters of a full path and sets `cut`) and is advanced past its
// "X:", so the rest is placed as a relative path.
int WindowsWritePosition(char* path, const char*& p, bool& cut) {
  if (HasDrivePrefix(p) && IsWindowsSeparator(p[2])) return 0;        // absolute
  if (IsWindowsSeparator(p[0])) return HasDrivePrefix(path) ? 2 : 0;  // rooted: keep the drive
  if (HasDrivePrefix(p)) {                                            // drive-relative
    if (!HasDrivePrefix(path)) {
      const size_t length = std::strlen(path);
      cut = length > PATH_LIMIT - 2;
      const size_t moved = std::min<size_t>(length + 1, PATH_LIMIT - 2);
      std::memmove(path + 2, path, moved);
      path[PATH_LIMIT] = '\0';
      path[1] = ':';
    }
    path[0] = p[0];
    p += 2;
  }
  return AfterLast(path, [](char c) { return IsWindowsSeparator(c) || c == ':'; });
}

// POSIX paths: '/' is the only separator and a leading '/' makes a path absolute.
int PosixWritePosition(const char* path, const char* p) {
  if (p[0] == '/') return 0;
  return AfterLast(path, [](char c) { return c == '/'; });
}

}  // namespace

FileSpec::FileSpec(PathStyle style) : style_(style), path_{} {
  std::strcpy(path_, INITIAL_PATHS[style == PathStyle::Windows ? 0 : 1]);
}

void FileSpec::Set(const char* new_path) {
  const char* p = new_path;
  bool cut = false;
  int position = style_ == PathStyle::Windows ? WindowsWritePosition(path_, p, cut)
                                              : PosixWritePosition(path_, p);
  // A write position past a drive prefix keeps the directory part, which an earlier cut
  // may have shortened.
  cut = cut || (cut_ && position > 2);
  while (*p != '\0' && position < PATH_LIMIT) path_[position++] = *p++;
  path_[position] = '\0';
  cut_ = cut || *p != '\0';
}

void FileSpec::GetName(char* out) const {
  const char separator = style_ == PathStyle::Windows ? '\\' : '/';
  const char* name = path_ + AfterLast(path_, [separator](char c) { return c == separator; });
  std::memcpy(out, name, std::strlen(name) + 1);
}

FileDescriptor FileSpec::OpenForReading() const {
  if (cut_) return FileDescriptor();
  char resolved[kPathSize];
  ResolveShortcut(resolved, path_);
  return ::OpenForReading(resolved);
}
