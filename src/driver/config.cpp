#include "driver/config.h"

#include <cstdio>
#include <cstring>

#include "base/messages.h"
#include "base/text.h"
#include "driver/settings.h"

namespace {

constexpr int kLineBufferSize = 520;  // a longer line continues as further lines

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

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

bool SetFormat(const char* v) {
  return SetUserFormat(settings, v);
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
    {"format", SetFormat},
    {"filter-host", AddHostFilter},
    {"filter-request", AddRequestFilter},
    {"filter-agent", AddAgentFilter},
    {"filter-server", AddServerFilter},
    {"filter-user", AddUserFilter},
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

bool ApplyKey(const char* key, const char* value) {
  if (value[0] == '\0') return false;
  for (const ConfigKey& entry : kConfigKeys) {
    if (std::strcmp(key, entry.key) == 0) return entry.apply(value);
  }
  return false;
}

}  // namespace

bool ApplyConfigLine(char* line) {
  if (line[0] == '#') return true;
  const char* value = nullptr;
  if (SplitLine(line, value) && ApplyKey(line, value)) return true;
  // The buffer up to its first NUL: the key alone once split, else the line as read.
  SayFailure("Invalid configuration line '%s'!\n", line);
  return false;
}

void ReadConfigFile(const char* path) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return;
  char line[kLineBufferSize];
  while (std::fgets(line, sizeof line, file) != nullptr) ApplyConfigLine(line);
  std::fclose(file);
}

void ReadConfig() {
  ReadConfigFile("Stitcher.cfg");
}
