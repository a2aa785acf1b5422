#include "driver/config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/messages.h"
#include "base/text.h"
#include "driver/settings.h"
#include "parse/server_formats.h"
#include "platform/system.h"

namespace {

// ---- Value checks: each sets its setting and returns true, or returns false ------------

// Prefixes tested in this order, case included; whatever follows the prefix is ignored.
struct BooleanWord {
  const char* prefix;
  bool value;
};
constexpr BooleanWord kBooleanWords[] = {
    {"yes", true}, {"on", true}, {"no", false}, {"off", false}};

bool SetBoolean(bool& target, const char* value) {
  for (const BooleanWord& word : kBooleanWords) {
    if (std::strncmp(value, word.prefix, std::strlen(word.prefix)) == 0) {
      target = word.value;
      return true;
    }
  }
  return false;
}

// Only the leading digit counts: "12" gives 1.
bool LeadingDigit(const char* value, int& digit) {
  if (!IsDigit(value[0])) return false;
  digit = value[0] - '0';
  return true;
}

template <typename Enum>
struct ChoiceWord {
  const char* word;
  Enum value;
};
constexpr ChoiceWord<NewlineStyle> kNewlineWords[] = {
    {"mac", NewlineStyle::MAC}, {"unix", NewlineStyle::UNIX}, {"dos", NewlineStyle::DOS}};
constexpr ChoiceWord<OutputFormat> kOutputWords[] = {
    {"ncsa", OutputFormat::NCSA}, {"w3c", OutputFormat::W3C}, {"webstar", OutputFormat::WEBSTAR}};

// The value must equal one of the words exactly (no trailing blanks, case included).
template <typename Enum, size_t N>
bool SetChoice(Enum& target, const ChoiceWord<Enum> (&words)[N], const char* value) {
  for (const auto& word : words) {
    if (std::strcmp(value, word.word) == 0) {
      target = word.value;
      return true;
    }
  }
  return false;
}

// Filter patterns of 1..511 characters; longer ones are refused whole, never truncated.
bool TextFits(const char* value) {
  const size_t length = std::strlen(value);
  return length >= 1 && length <= MAX_FILTER_LENGTH;
}

bool SetCompress(const char* v) {
  return SetBoolean(settings.compress, v);
}
bool SetVerbose(const char* v) {
  return SetBoolean(settings.verbose, v);
}
bool SetVhost(const char* v) {
  return SetBoolean(settings.vhost, v);
}
bool SetLowercase(const char* v) {
  return SetBoolean(settings.lowercase, v);
}
bool SetNormalize(const char* v) {
  return SetBoolean(settings.normalize, v);
}

bool SetTrim(const char* v) {
  int digit = 0;
  if (!LeadingDigit(v, digit)) return false;
  settings.trim_first_n_dirs = static_cast<int8_t>(digit);
  return true;
}

bool SetNewlines(const char* v) {
  return SetChoice(settings.newlines, kNewlineWords, v);
}
bool SetOutputFormat(const char* v) {
  return SetChoice(settings.output_format, kOutputWords, v);
}

bool SetLevel(const char* v) {
  return SetLevelDigit(settings, v);
}

bool SetMaxOpenKey(const char* v) {
  return SetMaxOpen(settings, v);
}

bool SetFormat(const char* v) {
  return SetUserFormat(settings, v);
}

// Zone names are checked against the zone database once, at start-up, wherever they came
// from; here any name is kept.
bool SetTimezone(const char* v) {
  settings.timezone = v;
  return true;
}
bool SetInputTimezone(const char* v) {
  settings.input_timezone = v;
  return true;
}
bool AddInputTimezoneFor(const char* v) {
  return AddInputZoneRule(settings, v);
}

// One JSON key of the user's mapping; a field or key path that cannot be read is refused
// with its reason.
bool AddJsonFieldKey(const char* v) {
  std::string error;
  if (AddJsonFieldSetting(settings, v, error)) return true;
  SayFailure("json-field: %s.\n", EscapedName(error).c_str());
  return false;
}

// A server's own format line, translated into a user format that is tried before the
// built-in dialects; a directive that cannot be read is refused naming it.
bool AddServerFormat(ServerKind kind, const char* key, const char* v) {
  std::string names;
  std::string error;
  if (!TranslateServerFormat(kind, v, names, error)) {
    SayFailure("%s: %s.\n", key, EscapedName(error).c_str());
    return false;
  }
  if (!settings.server_formats.empty()) settings.server_formats += '\n';
  settings.server_formats += names;
  return true;
}
// "[<pattern>] apache|nginx <format line>"
bool AddFormatFor(const char* v) {
  const auto word = [](const char*& p) {
    while (IsBlank(*p)) ++p;
    const char* const start = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
    return std::string(start, static_cast<size_t>(p - start));
  };
  const char* p = v;
  std::string pattern = word(p);
  std::string kind = pattern;
  if (kind == "apache" || kind == "nginx") {
    pattern.clear();
  } else {
    kind = word(p);
  }
  while (IsBlank(*p)) ++p;
  if (kind != "apache" && kind != "nginx") {
    SayFailure("format-for: give [<pattern>] apache|nginx <format line>.\n");
    return false;
  }
  std::string names;
  std::string error;
  if (!TranslateServerFormat(kind == "apache" ? ServerKind::APACHE : ServerKind::NGINX, p, names,
                             error)) {
    SayFailure("format-for: %s.\n", EscapedName(error).c_str());
    return false;
  }
  settings.format_rules.push_back({pattern, names});
  return true;
}
bool AddApacheFormat(const char* v) {
  return AddServerFormat(ServerKind::APACHE, "apache-format", v);
}
bool AddNginxFormat(const char* v) {
  return AddServerFormat(ServerKind::NGINX, "nginx-format", v);
}

bool AddFilter(std::vector<std::string>& list, const char* v) {
  return TextFits(v) && AppendFilter(list, v);
}
bool AddHostFilter(const char* v) {
  return AddFilter(settings.filters.host, v);
}
bool AddRequestFilter(const char* v) {
  return AddFilter(settings.filters.request, v);
}
bool AddAgentFilter(const char* v) {
  return AddFilter(settings.filters.agent, v);
}
bool AddServerFilter(const char* v) {
  return AddFilter(settings.filters.server, v);
}
bool AddUserFilter(const char* v) {
  return AddFilter(settings.filters.user, v);
}

// The keys, in the order they are tested; each compared exactly, case included.
struct ConfigKey {
  const char* key;
  bool (*apply)(const char* value);
};
constexpr ConfigKey kConfigKeys[] = {
    {"compress", SetCompress},
    {"verbose", SetVerbose},
    {"vhost", SetVhost},
    {"lowercase", SetLowercase},
    {"normalize", SetNormalize},
    {"trim-first-n-dirs", SetTrim},
    {"newlines", SetNewlines},
    {"output-format", SetOutputFormat},
    {"level", SetLevel},
    {"max-open", SetMaxOpenKey},
    {"format", SetFormat},
    {"timezone", SetTimezone},
    {"input-timezone", SetInputTimezone},
    {"input-timezone-for", AddInputTimezoneFor},
    {"format-for", AddFormatFor},
    {"filter-host", AddHostFilter},
    {"filter-request", AddRequestFilter},
    {"filter-agent", AddAgentFilter},
    {"filter-server", AddServerFilter},
    {"filter-user", AddUserFilter},
    {"json-field", AddJsonFieldKey},
    {"apache-format", AddApacheFormat},
    {"nginx-format", AddNginxFormat},
};

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

}  // namespace

bool ApplySetting(std::string_view key, const char* value) {
  if (value[0] == '\0') return false;
  for (const ConfigKey& entry : kConfigKeys) {
    if (key == entry.key) return entry.apply(value);
  }
  return false;
}

bool ApplyConfigLine(char* line) {
  if (IsSkipped(line)) return true;
  const char* value = nullptr;
  return SplitLine(line, value) && ApplySetting(line, value);
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
  while (std::fgets(line, sizeof line, file) != nullptr) {
    ++number;
    const size_t length = std::strlen(line);
    const bool whole = (length > 0 && line[length - 1] == '\n') || std::feof(file);
    if (!whole || length > static_cast<size_t>(CONFIG_LINE_MAX)) {
      if (!whole) SkipRestOfLine(file);
      SayFailure("%s:%ld: Configuration line longer than %d characters; it is not read.\n",
                 name.c_str(), number, CONFIG_LINE_MAX);
    } else {
      // The line is cut in place while it is applied; the message shows it as written.
      char written[sizeof line];
      std::memcpy(written, line, length + 1);
      if (ApplyConfigLine(line)) continue;
      SayFailure("%s:%ld: Invalid configuration line '%s'!\n", name.c_str(), number,
                 Shown(std::string_view(written, length)).c_str());
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

std::vector<std::string_view> ConfigKeyNames() {
  std::vector<std::string_view> names;
  for (const ConfigKey& k : kConfigKeys) names.emplace_back(k.key);
  return names;
}
