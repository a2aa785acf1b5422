#include "entries/entry_source.h"

#include "base/text.h"

namespace {

// Extensions that compression adds; the readers open every one of them.
constexpr std::string_view kCompressionExtensions[] = {"gz", "bz2", "xz", "zst", "zip", "z"};

bool IsCompressionExtension(std::string_view extension) {
  for (std::string_view known : kCompressionExtensions) {
    // Each known extension is a NUL-terminated literal of the extension's size, so no
    // byte past the extension is read.
    if (extension.size() == known.size() && StartsWithNoCase(known.data(), extension.data())) {
      return true;
    }
  }
  return false;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// A rotation stamp: digits, or digits joined by '-' or '_' (2024-03-01, 20240301_1200).
bool IsRotationStamp(std::string_view text) {
  if (text.empty() || !IsDigit(text.front())) return false;
  for (char c : text) {
    if (!IsDigit(c) && c != '-' && c != '_') return false;
  }
  return true;
}

// The name without one rotation or compression ending; unchanged when it has none.
std::string_view WithoutOneEnding(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    const std::string_view extension = name.substr(dot + 1);
    if (IsCompressionExtension(extension) || IsRotationStamp(extension) || extension == "log") {
      return name.substr(0, dot);
    }
  }
  // logrotate's dateext: "access.log-20240301".
  const size_t dash = name.rfind('-');
  if (dash != std::string_view::npos && dash > 0 && AllDigits(name.substr(dash + 1))) {
    return name.substr(0, dash);
  }
  return name;
}

}  // namespace

std::string_view FileNameOf(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view NameWithoutRotation(std::string_view file_name) {
  std::string_view name = file_name;
  for (;;) {
    const std::string_view shorter = WithoutOneEnding(name);
    if (shorter == name) break;
    name = shorter;
  }
  return name.empty() ? file_name : name;
}

void ApplySource(LogEntry& entry, const std::string& source, const SourcePlacement& placement) {
  if (source.empty()) return;
  // The text is the input's own and does not change while its entries are read.
  char* const text = const_cast<char*>(source.c_str());
  const EntryText field{text, static_cast<int32_t>(source.size())};
  entry.source = field;
  if (placement.into_vhost && (placement.into_vhost_always || entry.domain.length <= 0)) {
    entry.domain = field;
  }
}
