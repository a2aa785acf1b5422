#include "driver/options.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

#include "base/file_spec.h"
#include "base/messages.h"
#include "base/text.h"
#include "driver/command_line.h"
#include "driver/settings.h"
#include "parse/server_formats.h"

namespace {

// ---- Value checks: each returns true and sets its target, or false and changes nothing ----

// A value as the configuration file writes it may carry trailing blanks nobody sees; a
// word or a digit is judged without them.
std::string_view WithoutTrailingBlanks(const char* value) {
  std::string_view text(value);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Booleans by prefix, in either case: "yes", "on", "no", "off" are tested in this order and
// whatever follows the prefix is ignored, so "yes # gzip it" and "On" are both true.
struct BooleanWord {
  const char* prefix;
  bool value;
};
constexpr BooleanWord kBooleanWords[] = {
    {"yes", true}, {"on", true}, {"no", false}, {"off", false}};

bool ReadBoolean(const char* value, bool& target) {
  for (const BooleanWord& word : kBooleanWords) {
    if (StartsWithNoCase(word.prefix, value)) {
      target = word.value;
      return true;
    }
  }
  return false;
}

// One digit 0..9 and nothing else: "12" is refused rather than read as 1.
bool ReadDigit(const char* value, int& digit) {
  const std::string_view text = WithoutTrailingBlanks(value);
  if (text.size() != 1 || !IsDigit(text[0])) return false;
  digit = text[0] - '0';
  return true;
}

template <typename Enum>
struct ChoiceWord {
  std::string_view word;
  Enum value;
  const char* title = nullptr;  // as messages name it
};
constexpr ChoiceWord<SourceKind> kSourceWords[] = {{"none", SourceKind::NONE},
                                                   {"file", SourceKind::FILE},
                                                   {"name", SourceKind::NAME},
                                                   {"host", SourceKind::HOST}};
constexpr ChoiceWord<ClientSource> kClientWords[] = {{"remote", ClientSource::REMOTE},
                                                     {"xff", ClientSource::FORWARDED}};
constexpr ChoiceWord<Anonymize> kAnonymizeWords[] = {{"no", Anonymize::NONE},
                                                     {"1", Anonymize::NETWORK_24},
                                                     {"2", Anonymize::NETWORK_16},
                                                     {"3", Anonymize::NETWORK_8},
                                                     {"hash", Anonymize::HASH}};
constexpr ChoiceWord<NewlineStyle> kNewlineWords[] = {
    {"unix", NewlineStyle::UNIX}, {"dos", NewlineStyle::DOS}, {"mac", NewlineStyle::MAC}};

// One of the words, in either case.
template <typename Enum, size_t N>
bool ReadChoice(const char* value, const ChoiceWord<Enum> (&words)[N], Enum& target) {
  const std::string_view text = WithoutTrailingBlanks(value);
  for (const auto& word : words) {
    if (EqualNoCase(text, word.word)) {
      target = word.value;
      return true;
    }
  }
  return false;
}

// A whole number from `least` to `most`, digits only.
bool ReadNumber(const char* value, int least, int most, int& target) {
  int number = 0;
  const char* p = value;
  for (; IsDigit(*p) && number <= most; ++p) number = number * 10 + (*p - '0');
  if (p == value || *p != '\0' || number < least || number > most) return false;
  target = number;
  return true;
}

// ---- Effects --------------------------------------------------------------------------------

Applied Result(bool taken) {
  return taken ? Applied::Done : Applied::Refused;
}

// A value read by one of the rules settings.h shares with the configuration file: --memory
// (memory_budget.h), --max-open, --sort-window, --sort, --gap, --lateness and
// input-timezone-for (rules keep their order, the first match wins).
template <bool (*kRule)(Settings&, const char*)>
Applied SetByRule(OptionContext&, const OptionRow&, const char* value) {
  return Result(kRule(settings, value));
}

// One of `kWords` into the setting `kField`: --source, --client, --anonymize-ip, --newlines.
template <auto kField, const auto& kWords>
Applied SetChoice(OptionContext&, const OptionRow&, const char* value) {
  return Result(ReadChoice(value, kWords, settings.*kField));
}

// One digit into the setting `kField`: -L, --level, --trim-first-n-dirs.
template <auto kField>
Applied SetDigit(OptionContext&, const OptionRow&, const char* value) {
  int digit = 0;
  if (!ReadDigit(value, digit)) return Applied::Refused;
  settings.*kField = static_cast<std::remove_reference_t<decltype(settings.*kField)>>(digit);
  return Applied::Done;
}

// A value that the rule behind `row` could not read, with the rule's reason.
Applied FailValue(const OptionRow& row, const char* value, const std::string& error) {
  SayFailure("Invalid --%.*s value '%s': %s!\n", static_cast<int>(row.name.size()), row.name.data(),
             EscapedName(value).c_str(), EscapedName(error).c_str());
  return Applied::Failed;
}

Applied ShowUsage(OptionContext&, const OptionRow&, const char*) {
  return Applied::Usage;
}
Applied AskHelp(OptionContext&, const OptionRow&, const char*) {
  return Applied::Help;
}
Applied AskVersion(OptionContext&, const OptionRow&, const char*) {
  return Applied::Version;
}
Applied EndSwitches(OptionContext&, const OptionRow&, const char*) {
  return Applied::EndSwitches;
}

// -Verbose and --quiet undo each other: the later one wins.
Applied SetVerboseSwitch(OptionContext&, const OptionRow&, const char*) {
  settings.verbose = true;
  settings.quiet = false;
  return Applied::Done;
}
Applied SetQuiet(OptionContext&, const OptionRow&, const char*) {
  settings.quiet = true;
  settings.verbose = false;
  return Applied::Done;
}
Applied SetVerbose(OptionContext&, const OptionRow&, const char* value) {
  if (!ReadBoolean(value, settings.verbose)) return Applied::Refused;
  if (settings.verbose) settings.quiet = false;
  return Applied::Done;
}

// A bare switch that turns its setting off: --no-header, -Novhost. (A time slice after the
// first is appended to the slices before it: its header would land in the middle of the log.)
template <bool Settings::*kField>
Applied ClearFlag(OptionContext&, const OptionRow&, const char*) {
  settings.*kField = false;
  return Applied::Done;
}

template <NewlineStyle kStyle>
Applied SetNewlineStyle(OptionContext&, const OptionRow&, const char*) {
  settings.newlines = kStyle;
  return Applied::Done;
}
// One of the output dialects' names, in either case.
Applied SetOutputFormat(OptionContext&, const OptionRow&, const char* value) {
  const std::string_view text = WithoutTrailingBlanks(value);
  for (const OutputDialect& dialect : OUTPUT_DIALECTS) {
    if (!EqualNoCase(text, dialect.name)) continue;
    settings.output_format = dialect.format;
    return Applied::Done;
  }
  return Applied::Refused;
}

// Whether the merged log is compressed was asked for explicitly: the output's name must
// then agree with it (see the destination), and standard output follows it.
void NoteCompressionAsked(const OptionContext& context, const char* value) {
  if (context.source == OptionSource::ConfigFile) {
    settings.compress_asked_by = "the configuration line 'compress " + EscapedName(value) + "'";
  } else {
    settings.compress_asked_by = "--compress=" + EscapedName(value);
  }
}
Applied SetPlain(OptionContext&, const OptionRow&, const char*) {
  settings.compress = false;
  settings.compress_asked_by = "-Plain";
  return Applied::Done;
}
Applied SetCompress(OptionContext& context, const OptionRow&, const char* value) {
  if (!ReadBoolean(value, settings.compress)) return Applied::Refused;
  NoteCompressionAsked(context, value);
  return Applied::Done;
}

template <bool Settings::*kField>
Applied SetFlag(OptionContext&, const OptionRow&, const char* value) {
  return Result(ReadBoolean(value, settings.*kField));
}

// --threads=N: 1..256 threads compress the merged log and decode compressed inputs ahead;
// 0 (the default) is one per core.
constexpr int kMaxThreads = 256;
Applied SetThreads(OptionContext&, const OptionRow&, const char* value) {
  return Result(ReadNumber(value, 0, kMaxThreads, settings.threads));
}

bool NamesExistingPath(const char* text) {
  std::error_code error;
  return std::filesystem::exists(text, error) && !error;
}

// The format takes 1..511 characters of format tokens. On the command line, a value that
// names an existing file is almost certainly a log file that lost its way ("-f a.log
// b.log"): refused, so that the log is not silently taken for a format and left unread.
Applied SetFormat(OptionContext& context, const OptionRow& row, const char* value) {
  if (context.source == OptionSource::CommandLine && NamesExistingPath(value)) {
    if (row.letter != '\0') {
      SayFailure(
          "Invalid -format command: '%s' is a file, and -Format takes a list of format "
          "tokens!\n",
          EscapedName(value).c_str());
    } else {
      SayFailure("Invalid --format value '%s': it is a file; give a list of format tokens!\n",
                 EscapedName(value).c_str());
    }
    return Applied::Failed;
  }
  return Result(SetUserFormat(settings, value));
}

// Texts kept as given: the output and configuration paths, and zone names, which are
// checked against the zone database once, at start-up, wherever they came from.
template <std::string Settings::*kField>
Applied SetText(OptionContext&, const OptionRow&, const char* value) {
  settings.*kField = value;
  return Applied::Done;
}

Applied SetTimeBound(const char* value, std::optional<ClockTime>& bound) {
  ClockTime time = 0;
  if (!ParseIsoTime(value, time)) return Applied::Refused;
  bound = time;
  return Applied::Done;
}
Applied SetSince(OptionContext&, const OptionRow&, const char* value) {
  return SetTimeBound(value, settings.window.since);
}
Applied SetUntil(OptionContext&, const OptionRow&, const char* value) {
  return SetTimeBound(value, settings.window.until);
}

// A list of log files larger than this is refused: a list that never ends (a device, a
// runaway generator) must not take all memory. 64 MiB holds about a million names.
constexpr int64_t kMaxListBytes = int64_t{64} << 20;

// How a list of log files separates its names.
enum class ListStyle {
  Lines,  // one name per line; a CR before the LF (a list written on Windows) is dropped
  Nul,    // each name ends with a NUL, as find -print0, xargs -0 and tar --null have it
};

// Reads the names of `file` into `names`; empty names are dropped, names of up to the
// system's path limit are taken whole. False, with the reason in `problem` (empty for a
// read error, whose reason is in errno): a list over kMaxListBytes, a name over the path
// limit, or a NUL in a list of lines (a list made for -0, which would be read as cut names).
bool ReadNames(std::FILE* file, ListStyle style, std::vector<std::string>& names,
               std::string& problem) {
  constexpr size_t kLongestName = FileSpec::kPathSize - 1;
  const char end = style == ListStyle::Nul ? '\0' : '\n';
  const char* const unit = style == ListStyle::Nul ? "name" : "line";
  std::vector<std::string> read;
  std::string name;
  int64_t bytes = 0;
  int64_t number = 1;  // of the line, or of the name, being read
  for (int c = std::getc(file);; c = std::getc(file)) {
    if (c == EOF || c == end) {
      if (style == ListStyle::Lines && !name.empty() && name.back() == '\r') name.pop_back();
      if (!name.empty()) read.push_back(name);
      name.clear();
      if (c == EOF) break;
      ++number;
    } else if (c == '\0') {
      problem = "line " + std::to_string(number) +
                " holds a NUL character; a list of NUL-separated names needs --files-from0 or "
                "-0";
      return false;
    } else if (name.size() == kLongestName) {
      problem = std::string(unit) + " " + std::to_string(number) +
                " is longer than the system's path limit of " + std::to_string(kLongestName) +
                " bytes";
      return false;
    } else {
      name += static_cast<char>(c);
    }
    if (++bytes > kMaxListBytes) {
      problem = "it is larger than " + std::to_string(kMaxListBytes >> 20) + " MiB";
      return false;
    }
  }
  if (std::ferror(file) != 0) return false;
  names.insert(names.end(), read.begin(), read.end());
  return true;
}

// The names a list of log files gives join the log files at this point of the command line;
// "-" reads them from standard input. A list that cannot be read whole adds none.
Applied ReadList(OptionContext& context, const char* value, ListStyle style) {
  const bool from_stdin = std::strcmp(value, "-") == 0;
  const std::string shown = from_stdin ? "standard input" : "'" + EscapedName(value) + "'";
  std::FILE* file = from_stdin ? stdin : std::fopen(value, "r");
  if (file == nullptr) {
    SayFailure("Error opening the list of log files %s: %s.\n", shown.c_str(),
               std::strerror(errno));
    return Applied::Failed;
  }
  std::string problem;
  const bool read = ReadNames(file, style, context.line->names, problem);
  const int reason = errno;
  if (!from_stdin) std::fclose(file);
  if (!read) {
    SayFailure("Error reading the list of log files %s: %s.\n", shown.c_str(),
               problem.empty() ? std::strerror(reason) : problem.c_str());
    return Applied::Failed;
  }
  return Applied::Done;
}

// --files-from=<file>: one name per line, or NUL-separated after -0 / --null.
Applied ReadFilesFrom(OptionContext& context, const OptionRow&, const char* value) {
  return ReadList(context, value,
                  settings.null_separated_lists ? ListStyle::Nul : ListStyle::Lines);
}

// --files-from0=<file>: NUL-separated names, as find -print0 writes them.
Applied ReadFilesFromNul(OptionContext& context, const OptionRow&, const char* value) {
  return ReadList(context, value, ListStyle::Nul);
}

// -0 / --null: every --files-from list is NUL-separated. It acts before the lists are read,
// so its place among them does not matter.
Applied SetNullLists(OptionContext&, const OptionRow&, const char*) {
  settings.null_separated_lists = true;
  return Applied::Done;
}

Applied SetNoProgress(OptionContext&, const OptionRow&, const char*) {
  settings.progress = ProgressMode::OFF;
  return Applied::Done;
}
Applied SetProgress(OptionContext&, const OptionRow&, const char* value) {
  bool on = false;
  if (!ReadBoolean(value, on)) return Applied::Refused;
  settings.progress = on ? ProgressMode::ON : ProgressMode::OFF;
  return Applied::Done;
}

Applied SetFollowUntil(OptionContext&, const OptionRow&, const char* value) {
  return SetTimeBound(value, settings.follow_until);
}

// json-field: one "<field>=<key path>" of the user's JSON keys; a field or key path that
// cannot be read is refused with its reason.
Applied AddJsonField(OptionContext&, const OptionRow& row, const char* value) {
  std::string error;
  if (AddJsonFieldSetting(settings, value, error)) return Applied::Done;
  return FailValue(row, value, error);
}

// --apache-format / --nginx-format: a server's own format line, translated into a user
// format tried after the -Format ones; a directive that cannot be read is refused naming it.
Applied AddServerFormat(OptionContext&, const OptionRow& row, const char* value) {
  const ServerKind kind = row.name == "nginx-format" ? ServerKind::NGINX : ServerKind::APACHE;
  std::string names;
  std::string error;
  if (!TranslateServerFormat(kind, value, names, error)) return FailValue(row, value, error);
  if (!settings.server_formats.empty()) settings.server_formats += '\n';
  settings.server_formats += names;
  return Applied::Done;
}

// format-for: "[<pattern>] apache|nginx <format line>"; without a pattern the line serves
// the lines no built-in dialect reads.
Applied AddFormatFor(OptionContext&, const OptionRow& row, const char* value) {
  const auto word = [](const char*& p) {
    while (IsBlank(*p)) ++p;
    const char* const start = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
    return std::string(start, static_cast<size_t>(p - start));
  };
  const char* p = value;
  std::string pattern = word(p);
  std::string kind = pattern;
  if (kind == "apache" || kind == "nginx") {
    pattern.clear();
  } else {
    kind = word(p);
  }
  while (IsBlank(*p)) ++p;
  if (kind != "apache" && kind != "nginx") return Applied::Refused;
  std::string names;
  std::string error;
  if (!TranslateServerFormat(kind == "apache" ? ServerKind::APACHE : ServerKind::NGINX, p, names,
                             error)) {
    return FailValue(row, value, error);
  }
  settings.format_rules.push_back({pattern, names});
  return Applied::Done;
}

// The filter lists by key. Lines of the configuration file append to their list. The first
// switch for a list replaces what the file gave it, as every switch overrides the file;
// further ones append.
struct FilterList {
  std::string_view key;
  std::vector<std::string> FilterLists::*list;
};
constexpr FilterList kFilterLists[] = {
    {"filter-host", &FilterLists::host},   {"filter-request", &FilterLists::request},
    {"filter-agent", &FilterLists::agent}, {"filter-server", &FilterLists::server},
    {"filter-user", &FilterLists::user},
};

Applied AddFilter(OptionContext& context, const OptionRow& row, const char* value) {
  if (std::strlen(value) > MAX_FILTER_LENGTH) return Applied::Refused;
  for (unsigned i = 0; i < std::size(kFilterLists); ++i) {
    if (kFilterLists[i].key != row.name) continue;
    std::vector<std::string>& list = settings.filters.*kFilterLists[i].list;
    const unsigned bit = 1u << i;
    std::vector<std::string> before;
    const bool replace =
        context.source == OptionSource::CommandLine && (context.replaced_lists & bit) == 0;
    if (replace) before.swap(list);
    if (!AppendFilter(list, value)) {
      if (replace) before.swap(list);
      return Applied::Refused;
    }
    if (replace) context.replaced_lists |= bit;
    return Applied::Done;
  }
  return Applied::Refused;
}

// ---- The table --------------------------------------------------------------------------------

constexpr const char* kBooleanValues = "yes, no, on or off";
constexpr const char* kDigitValues = "a digit from 0 to 9";
constexpr const char* kZoneValues = "a zone name such as UTC, local or Europe/Berlin";
constexpr const char* kTimeValues = "a time as 2024-03-01T06:00:00 or 2024-03-01";
constexpr const char* kPatternValues = "a pattern of 1 to 511 characters";

constexpr bool K = true;   // also a configuration key
constexpr bool E = true;   // acts before the configuration file is read
constexpr bool L = false;  // acts after it
constexpr OptionRow kOptions[] = {
    // The original switches: only the letter counts, in either case.
    {'h', "", Takes::Nothing, false, L, nullptr, ShowUsage, nullptr,
     "  -Help display this message\n"},
    {'v', "", Takes::Nothing, false, L, nullptr, SetVerboseSwitch, nullptr,
     "  -Verbose display verbose progress messages\n"},
    {'n', "", Takes::Nothing, false, L, nullptr, ClearFlag<&Settings::vhost>, nullptr,
     "  -Novhost suppress virtual host in field two\n"},
    {'f', "", Takes::Value, false, L, nullptr, SetFormat, "1 to 511 characters of format tokens",
     "  -Format <log format>\n"},
    {'m', "", Takes::Nothing, false, L, nullptr, SetNewlineStyle<NewlineStyle::MAC>, nullptr,
     "  -Mac newlines\n"},
    {'u', "", Takes::Nothing, false, L, nullptr, SetNewlineStyle<NewlineStyle::UNIX>, nullptr,
     "  -Unix newlines\n"},
    {'d', "", Takes::Nothing, false, L, nullptr, SetNewlineStyle<NewlineStyle::DOS>, nullptr,
     "  -Dos/Windows newlines\n"},
    {'p', "", Takes::Nothing, false, L, nullptr, SetPlain, nullptr,
     "  -Plain - disable compression\n"},
    {'l', "", Takes::Attached, false, L, nullptr, SetDigit<&Settings::level>, kDigitValues,
     "  -L<digit> - set compression level\n"},
    // Later switches, each with a long name.
    {'o', "output", Takes::Value, false, E, "output", SetText<&Settings::output_path>,
     "a file name, or - for standard output",
     "  -Output <file>, --output=<file> write the merged log to <file> (gzip when it ends in "
     ".gz); - is standard output\n"},
    {'q', "quiet", Takes::Nothing, false, L, nullptr, SetQuiet, nullptr,
     "  -q, --quiet print nothing but problems\n"},
    {'\0', "config", Takes::Value, false, E, nullptr, SetText<&Settings::config_path>,
     "a file name", "  --config=<file> read the settings from <file> instead of Stitcher.cfg\n"},
    {'\0', "files-from", Takes::Value, false, L, nullptr, ReadFilesFrom,
     "a file name, or - for standard input",
     "  --files-from=<file> merge the log files named in <file>, one per line; - is standard "
     "input\n"},
    {'\0', "files-from0", Takes::Value, false, L, nullptr, ReadFilesFromNul,
     "a file name, or - for standard input",
     "  --files-from0=<file> merge the log files named in <file>, each ended by a NUL (find "
     "-print0)\n"},
    {'0', "null", Takes::Nothing, false, E, "0", SetNullLists, nullptr,
     "  -0, --null the lists of --files-from are NUL-separated\n"},
    {'\0', "since", Takes::Value, false, L, nullptr, SetSince, kTimeValues,
     "  --since=<time> keep entries from this time on (2024-03-01T06:00:00 or 2024-03-01)\n"},
    {'\0', "until", Takes::Value, false, L, nullptr, SetUntil, kTimeValues,
     "  --until=<time> keep entries before this time\n"},
    {'\0', "no-header", Takes::Nothing, false, L, nullptr, ClearFlag<&Settings::header>, nullptr,
     "  --no-header leave out the header line(s) of the output format\n"},
    {'\0', "threads", Takes::Value, false, L, nullptr, SetThreads,
     "a number from 0 (one per core) to 256",
     "  --threads=<n> threads compressing the output and reading inputs ahead (default: one "
     "per core)\n"},
    {'\0', "max-open", Takes::Value, K, L, nullptr, SetByRule<SetMaxOpen>,
     "0 (as the open-file limit allows) or a number from 2 to 1000000",
     "  --max-open=<n> inputs open at once; more merge in passes through temporary files "
     "(default: as the open-file limit allows)\n"},
    {'\0', "sort-window", Takes::Value, K, L, nullptr, SetByRule<SetSortWindow>,
     "0 (off) or a span of log time such as 30s, 10m, 2h, 1d or 1h30m",
     "  --sort-window=<span> reorder each input within this span of log time (30s, 10m, 2h; "
     "0 off; default 10m)\n"},
    {'\0', "sort", Takes::Value, K, L, nullptr, SetByRule<SetSortMode>, "window or full",
     "  --sort=window|full sort each input within its window, or whole through temporary "
     "files\n"},
    {'\0', "stats", Takes::Boolean, K, L, nullptr, SetFlag<&Settings::stats>, kBooleanValues,
     "  --stats[=yes|no] a table of the inputs at the end: dialects, entries, lines passed over "
     "by reason, first and last entry, gaps\n"},
    {'\0', "gap", Takes::Value, K, L, nullptr, SetByRule<SetGap>,
     "0 (none) or a duration such as 90s, 30m, 1h30m or 2d",
     "  --gap=<duration> a longer time without entries inside an input is a gap (default 1h; "
     "90s, 30m, 1h30m, 2d; 0 = none)\n"},
    {'\0', "progress", Takes::Boolean, K, L, nullptr, SetProgress, kBooleanValues,
     "  --progress[=yes|no] draw the progress line even when standard error is no terminal\n"},
    {'\0', "no-progress", Takes::Nothing, false, L, nullptr, SetNoProgress, nullptr,
     "  --no-progress never draw the progress line\n"},
    {'\0', "report", Takes::Value, K, L, nullptr, SetText<&Settings::report_path>, "a file name",
     "  --report=<file> write a report of the run: JSON, or a page with timelines when <file> "
     "ends in .html\n"},
    {'\0', "follow", Takes::Boolean, K, L, nullptr, SetFlag<&Settings::follow>, kBooleanValues,
     "  --follow[=yes|no] after the existing entries, keep merging what the logs get until "
     "interrupted\n"},
    {'\0', "follow-until", Takes::Value, K, L, nullptr, SetFollowUntil, kTimeValues,
     "  --follow-until=<time> stop following at this local time (2024-03-01T06:00:00)\n"},
    {'\0', "lateness", Takes::Value, K, L, nullptr, SetByRule<SetLateness>,
     "a duration such as 500ms, 2s or 1.5s",
     "  --lateness=<duration> while following, an entry waits at most this long for the "
     "other logs (default 2s)\n"},
    {'\0', "source", Takes::Value, K, L, nullptr, SetChoice<&Settings::source, kSourceWords>,
     "file, name, host or none",
     "  --source=file|name|host|none record each entry's input: its file name, that name "
     "without rotation suffixes, or a host from its path\n"},
    // The pattern is compiled once, at start-up, where a bad one is reported.
    {'\0', "source-pattern", Takes::Value, K, L, nullptr, SetText<&Settings::source_pattern>,
     "a regular expression with one group",
     "  --source-pattern=<regex> with --source=host, the host is the pattern's first group "
     "in the input's path\n"},
    {'\0', "source-into-vhost", Takes::Boolean, K, L, nullptr,
     SetFlag<&Settings::source_into_vhost>, kBooleanValues,
     "  --source-into-vhost[=yes|no] the source replaces every virtual host, not only absent "
     "ones\n"},
    {'\0', "client", Takes::Value, K, L, nullptr, SetChoice<&Settings::client, kClientWords>,
     "remote or xff",
     "  --client=remote|xff the client is the remote address, or taken from "
     "X-Forwarded-For\n"},
    {'\0', "anonymize-ip", Takes::Value, K, L, nullptr,
     SetChoice<&Settings::anonymize_ip, kAnonymizeWords>, "1, 2, 3, hash or no",
     "  --anonymize-ip=1|2|3|hash|no mask client addresses to /24, /16, /8 (IPv6 /64, /48, "
     "/32), or replace them by a keyed hash\n"},
    // The key file is read at start-up; its name is all that is kept here.
    {'\0', "anonymize-key", Takes::Value, K, L, nullptr, SetText<&Settings::anonymize_key>,
     "a file name", "  --anonymize-key=<file> the key of --anonymize-ip=hash\n"},
    {'\0', "dedupe", Takes::Boolean, K, L, nullptr, SetFlag<&Settings::dedupe>, kBooleanValues,
     "  --dedupe[=yes|no] write once an entry that several inputs hold at the same time\n"},
    {'\0', "memory", Takes::Value, K, L, nullptr, SetByRule<SetMemoryBudget>,
     "a size from 16M to 1024G, such as 64M or 1G",
     "  --memory=<size> what decoders and data decoded ahead hold at once, such as 64M (the "
     "default) or 1G\n"},
    {'\0', "output-format", Takes::Value, K, L, nullptr, SetOutputFormat,
     "combined, vhost_combined, json, ncsa, w3c or webstar",
     "  --output-format=combined|vhost_combined|json|ncsa|w3c|webstar dialect of the merged "
     "log\n"},
    {'\0', "newlines", Takes::Value, K, L, nullptr, SetChoice<&Settings::newlines, kNewlineWords>,
     "unix, dos or mac", "  --newlines=unix|dos|mac line ends of the merged log\n"},
    {'\0', "level", Takes::Value, K, L, nullptr, SetDigit<&Settings::level>, kDigitValues,
     "  --level=<digit> gzip compression level\n"},
    {'\0', "compress", Takes::Boolean, K, L, nullptr, SetCompress, kBooleanValues,
     "  --compress[=yes|no] gzip the merged log (default: as the output's name says)\n"},
    {'\0', "verbose", Takes::Boolean, K, L, nullptr, SetVerbose, kBooleanValues,
     "  --verbose[=yes|no] display verbose progress messages\n"},
    {'\0', "vhost", Takes::Boolean, K, L, nullptr, SetFlag<&Settings::vhost>, kBooleanValues,
     "  --vhost[=yes|no] virtual host in field two\n"},
    {'\0', "normalize", Takes::Boolean, K, L, nullptr, SetFlag<&Settings::normalize>,
     kBooleanValues, "  --normalize[=yes|no] clean up every entry's fields\n"},
    {'\0', "lowercase", Takes::Boolean, K, L, nullptr, SetFlag<&Settings::lowercase>,
     kBooleanValues, "  --lowercase[=yes|no] lower-case paths when normalising\n"},
    {'\0', "trim-first-n-dirs", Takes::Value, K, L, nullptr, SetDigit<&Settings::trim_first_n_dirs>,
     kDigitValues, "  --trim-first-n-dirs=<digit> drop leading directories of every path\n"},
    {'\0', "format", Takes::Value, K, L, nullptr, SetFormat, "1 to 511 characters of format tokens",
     "  --format=<log format> as -Format\n"},
    {'\0', "timezone", Takes::Value, K, L, nullptr, SetText<&Settings::timezone>, kZoneValues,
     "  --timezone=<zone> merge in real time, stamps in <zone> (UTC, local, Europe/Berlin)\n"},
    {'\0', "input-timezone", Takes::Value, K, L, nullptr, SetText<&Settings::input_timezone>,
     kZoneValues,
     "  --input-timezone=<zone> zone of inputs whose stamps carry no offset (default: local)\n"},
    {'\0', "input-timezone-for", Takes::Value, K, L, nullptr, SetByRule<AddInputZoneRule>,
     "a pattern and a zone name, such as 'haproxy*.log Europe/Berlin'",
     "  --input-timezone-for='<pattern> <zone>' as --input-timezone, for the inputs whose names\n"
     "      match <pattern> (repeatable; the first match wins)\n"},
    {'\0', "apache-format", Takes::Value, K, L, nullptr, AddServerFormat,
     "an Apache LogFormat line",
     "  --apache-format=<LogFormat line> read inputs laid out by this Apache format\n"},
    {'\0', "nginx-format", Takes::Value, K, L, nullptr, AddServerFormat, "an nginx log_format line",
     "  --nginx-format=<log_format line> read inputs laid out by this nginx format\n"},
    {'\0', "format-for", Takes::Value, K, L, nullptr, AddFormatFor,
     "[<pattern>] apache|nginx <format line>",
     "  --format-for='[<pattern>] apache|nginx <line>' read the inputs whose names match\n"
     "      <pattern> by this server format line (without a pattern: lines no dialect reads)\n"},
    {'\0', "json-field", Takes::Value, K, L, nullptr, AddJsonField,
     "<field>=<key path>, such as agent=request.headers.User-Agent[0]",
     "  --json-field=<field>=<key path> read this field of JSON lines from this key\n"},
    {'\0', "filter-host", Takes::Value, K, L, nullptr, AddFilter, kPatternValues,
     "  --filter-host=<pattern> filter on the client host (+ keeps, otherwise drops)\n"},
    {'\0', "filter-request", Takes::Value, K, L, nullptr, AddFilter, kPatternValues,
     "  --filter-request=<pattern> filter on the request path\n"},
    {'\0', "filter-agent", Takes::Value, K, L, nullptr, AddFilter, kPatternValues,
     "  --filter-agent=<pattern> filter on the user agent\n"},
    {'\0', "filter-server", Takes::Value, K, L, nullptr, AddFilter, kPatternValues,
     "  --filter-server=<pattern> filter on the virtual host\n"},
    {'\0', "filter-user", Takes::Value, K, L, nullptr, AddFilter, kPatternValues,
     "  --filter-user=<pattern> filter on the user name\n"},
    {'\0', "help", Takes::Nothing, false, L, nullptr, AskHelp, nullptr,
     "  --help display this message and exit\n"},
    {'\0', "version", Takes::Nothing, false, L, nullptr, AskVersion, nullptr,
     "  --version display the version and exit\n"},
    {'\0', "", Takes::Nothing, false, L, nullptr, EndSwitches, nullptr,
     "  -- every later argument is a log file\n"},
};

// "-?" asks for the usage text as -Help does.
constexpr char kHelpLetter = 'h';

}  // namespace

std::span<const OptionRow> OptionRows() {
  return kOptions;
}

const OptionRow* FindLongOption(std::string_view name) {
  for (const OptionRow& row : kOptions) {
    if (row.name == name && (!name.empty() || row.letter == '\0')) return &row;
  }
  return nullptr;
}

const OptionRow* FindSwitch(const char* argument) {
  if (argument[0] != '-' || argument[1] == '\0') return nullptr;
  char letter = ToLowerAscii(argument[1]);
  if (letter == '?') letter = kHelpLetter;
  for (const OptionRow& row : kOptions) {
    if (row.letter != letter) continue;
    if (row.word == nullptr) return &row;
    // The argument must be the start of the word: "-o", "-OUT", "-Output".
    const std::string_view typed(argument + 1);
    const std::string_view word(row.word);
    if (typed.size() > word.size() || !EqualNoCase(typed, word.substr(0, typed.size()))) {
      return nullptr;
    }
    return &row;
  }
  return nullptr;
}

Applied Apply(OptionContext& context, const OptionRow& row, const char* value) {
  if (row.takes == Takes::Boolean && value == nullptr) value = "yes";
  // Every option that takes a value needs one: an empty value is never a setting.
  if (row.takes != Takes::Nothing && (value == nullptr || value[0] == '\0')) {
    return Applied::Refused;
  }
  return row.apply(context, row, value);
}

Applied OutcomeOf(const OptionRow& row) {
  if (row.apply == ShowUsage) return Applied::Usage;
  if (row.apply == AskHelp) return Applied::Help;
  if (row.apply == AskVersion) return Applied::Version;
  if (row.apply == EndSwitches) return Applied::EndSwitches;
  return Applied::Done;
}

std::vector<std::string_view> ConfigKeyNames() {
  std::vector<std::string_view> names;
  for (const OptionRow& row : kOptions) {
    if (row.key) names.push_back(row.name);
  }
  return names;
}
