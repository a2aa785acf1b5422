#include "driver/config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "driver/options.h"
#include "platform/system.h"

namespace {

// Splits the line into key and value in place; false when there is no blank or nothing
// follows the blanks.
bool SplitLine(char* line, const char*& value) {
  const size_t length = std::strlen(line);
  char* blank = line + std::strcspn(line, " \t");
  if (*blank == '\0') return false;
  while (IsBlank(*blank)) *blank++ = '\0';
  if (*blank == '\0') return false;
  // The value runs to the first line end; trailing blanks stay part of it.
  for (char* c = blank; c < line + length; ++c) {
    if (*c == '\r' || *c == '\n') *c = '\0';
  }
  value = blank;
  return true;
}

// Blank lines and comments, indented or not, carry no setting.
bool IsSkipped(const char* line) {
  while (IsBlank(*line)) ++line;
  return *line == '\0' || *line == '\r' || *line == '\n' || *line == '#';
}

// The line without its line end, with control characters escaped, for a message.
std::string Shown(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return EscapedName(line);
}

// Reads the rest of an over-long line up to and including its line end.
void SkipRestOfLine(std::FILE* file) {
  for (int c = std::fgetc(file); c != EOF && c != '\n';) c = std::fgetc(file);
}

// Reads one line, its line end included, into `line` of `size` bytes and ends it with a NUL;
// `length` counts every byte read, a NUL in the line too (fgets could not tell where such a
// line ends). The rest of a line that does not fit is read and dropped, and `whole` is false.
// False at the end of the file.
bool ReadLine(std::FILE* file, char* line, size_t size, size_t& length, bool& whole) {
  length = 0;
  whole = true;
  int c = std::fgetc(file);
  if (c == EOF) return false;
  for (; c != EOF; c = std::fgetc(file)) {
    if (length + 1 == size) {
      whole = false;
      if (c != '\n') SkipRestOfLine(file);
      break;
    }
    line[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[length] = '\0';
  return true;
}

}  // namespace

ConfigLine ApplyConfigLine(char* line) {
  if (IsSkipped(line)) return ConfigLine{};
  const char* value = nullptr;
  if (!SplitLine(line, value)) return ConfigLine{false, nullptr};
  const OptionRow* row = FindLongOption(line);
  if (row == nullptr || !row->key) return ConfigLine{false, nullptr};
  OptionContext context{OptionSource::ConfigFile};
  const bool taken = Apply(context, *row, value) == Applied::Done;
  return ConfigLine{taken, taken ? nullptr : row};
}

bool ReadConfigFile(const char* path, bool required) {
  const std::string name = EscapedName(path);
  RegularFileOpen outcome{};
  std::FILE* file = OpenRegularFile(path, CONFIG_SIZE_MAX, outcome);
  switch (outcome) {
    case RegularFileOpen::Opened:
      break;
    case RegularFileOpen::Missing:
    case RegularFileOpen::Failed:
      if (required || outcome == RegularFileOpen::Failed) {
        SayFailure("Error opening configuration file '%s': %s.\n", name.c_str(),
                   std::strerror(errno));
      }
      return false;
    case RegularFileOpen::NotRegular:
      SayFailure("Configuration file '%s' is not a regular file; it is not read.\n", name.c_str());
      return false;
    case RegularFileOpen::TooLarge:
      SayFailure("Configuration file '%s' is larger than %lld bytes; it is not read.\n",
                 name.c_str(), CONFIG_SIZE_MAX);
      return false;
  }
  // One spare byte tells a line of exactly CONFIG_LINE_MAX characters from a longer one.
  char line[CONFIG_LINE_MAX + 2];
  long number = 0;
  int invalid = 0;
  size_t length = 0;
  bool whole = true;
  while (ReadLine(file, line, sizeof line, length, whole)) {
    ++number;
    if (!whole || length > static_cast<size_t>(CONFIG_LINE_MAX)) {
      SayFailure("%s:%ld: Configuration line longer than %d characters; it is not read.\n",
                 name.c_str(), number, CONFIG_LINE_MAX);
    } else if (std::memchr(line, '\0', length) != nullptr) {
      // Read up to its NUL, the line would be taken cut short.
      SayFailure("%s:%ld: Invalid configuration line '%s': it holds a NUL character!\n",
                 name.c_str(), number, Shown(std::string_view(line, length)).c_str());
    } else {
      // The line is cut in place while it is applied; the message shows it as written.
      char written[sizeof line];
      std::memcpy(written, line, length + 1);
      const ConfigLine applied = ApplyConfigLine(line);
      if (applied.valid) continue;
      const std::string shown = Shown(std::string_view(written, length));
      if (applied.refused_by != nullptr) {
        SayFailure("%s:%ld: Invalid configuration line '%s': give %s!\n", name.c_str(), number,
                   shown.c_str(), applied.refused_by->valid);
      } else {
        SayFailure("%s:%ld: Invalid configuration line '%s'!\n", name.c_str(), number,
                   shown.c_str());
      }
    }
    if (++invalid == CONFIG_INVALID_LINES_MAX) {
      SayFailure("Too many invalid lines in '%s'; the rest of it is not read.\n", name.c_str());
      break;
    }
  }
  if (std::ferror(file) != 0) {
    SayFailure("Error reading configuration file '%s': %s.\n", name.c_str(), std::strerror(errno));
  }
  std::fclose(file);
  return true;
}
