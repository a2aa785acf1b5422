#include "driver/command_line.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/messages.h"
#include "base/text.h"
#include "driver/config.h"
#include "driver/settings.h"

#ifndef STITCHER_VERSION
#error "the build defines STITCHER_VERSION from the project version"
#endif

namespace {

// When a switch acts: before the configuration file is read, or after it.
enum class Phase { Early, Late };

// What the walk does after a switch.
enum class Walk {
  Continue,
  StopAndForget,  // forget the names; the usage text follows
  Stop,           // forget the names; the switch said why, nothing follows
  EndSwitches,    // every later argument is a log file
  Help,
  Version,
};

// How a switch takes its value.
enum class Takes {
  Nothing,
  Value,          // -X <next argument>, or --name=<value>
  Attached,       // the rest of the argument after the letter: -L5
  OptionalValue,  // --name (as "yes") or --name=<value>
};

struct WalkState {
  Phase phase;
  CommandLine& line;
  unsigned replaced_lists = 0;  // filter lists a switch has already replaced (one bit each)
};

struct Switch;
using Apply = Walk (*)(WalkState& walk, const Switch& row, const char* value);

// One switch: its letter and/or long name, how it takes a value, when and how it acts, and
// its line in the usage text. `value` is null when the switch got none.
struct Switch {
  char letter;            // '\0' when the switch has only a long name
  std::string_view name;  // the long name; empty when only a letter (and "--" itself)
  Takes takes;
  Phase phase;
  Apply apply;
  const char* usage;
};

// ---- Effects -------------------------------------------------------------------------------

Walk ShowHelp(WalkState&, const Switch&, const char*) {
  return Walk::StopAndForget;
}
Walk AskHelp(WalkState&, const Switch&, const char*) {
  return Walk::Help;
}
Walk AskVersion(WalkState&, const Switch&, const char*) {
  return Walk::Version;
}
Walk EndSwitches(WalkState&, const Switch&, const char*) {
  return Walk::EndSwitches;
}
Walk SetVerbose(WalkState&, const Switch&, const char*) {
  settings.verbose = true;
  settings.quiet = false;
  return Walk::Continue;
}
Walk SetQuietRun(WalkState&, const Switch&, const char*) {
  settings.quiet = true;
  settings.verbose = false;
  return Walk::Continue;
}
// A time slice after the first is appended to the slices before it: its header would
// land in the middle of the log.
Walk SetNoHeader(WalkState&, const Switch&, const char*) {
  settings.header = false;
  return Walk::Continue;
}
Walk SetNoVhost(WalkState&, const Switch&, const char*) {
  settings.vhost = false;
  return Walk::Continue;
}
Walk SetMac(WalkState&, const Switch&, const char*) {
  settings.newlines = NewlineStyle::MAC;
  return Walk::Continue;
}
Walk SetUnix(WalkState&, const Switch&, const char*) {
  settings.newlines = NewlineStyle::UNIX;
  return Walk::Continue;
}
Walk SetDos(WalkState&, const Switch&, const char*) {
  settings.newlines = NewlineStyle::DOS;
  return Walk::Continue;
}
Walk SetPlain(WalkState&, const Switch&, const char*) {
  settings.compress = false;
  return Walk::Continue;
}

bool NamesExistingPath(const char* text) {
  std::error_code error;
  return std::filesystem::exists(text, error) && !error;
}

// -Format takes 1..511 characters of format tokens. A value that names an existing file is
// almost certainly a log file that lost its way ("-f a.log b.log"): refused, so that the
// log is not silently taken for a format and left unread.
Walk SetFormat(WalkState&, const Switch&, const char* value) {
  if (value != nullptr && value[0] != '\0' && NamesExistingPath(value)) {
    SayFailure(
        "Invalid -format command: '%s' is a file, and -Format takes a list of format "
        "tokens!\n",
        EscapedName(value).c_str());
    return Walk::StopAndForget;
  }
  if (value == nullptr || !SetUserFormat(settings, value)) {
    SayFailure("Invalid -format command!\n");
    return Walk::StopAndForget;
  }
  return Walk::Continue;
}

// -L<digit>: only the character right after the letter counts; a bad one is reported and
// the run goes on with the level unchanged.
Walk SetLevel(WalkState&, const Switch&, const char* value) {
  if (!SetLevelDigit(settings, value)) SayFailure("Invalid -L command!\n");
  return Walk::Continue;
}

// Early switches act in both phases: the early one takes a good value silently, the late
// one takes it again (nothing has changed it in between) and reports a bad one.
Walk SetOutput(WalkState& walk, const Switch&, const char* value) {
  if (value == nullptr || value[0] == '\0') {
    if (walk.phase == Phase::Late) SayFailure("Invalid -output command!\n");
    return Walk::StopAndForget;
  }
  settings.output_path = value;
  return Walk::Continue;
}

Walk SetConfig(WalkState& walk, const Switch&, const char* value) {
  if (value == nullptr || value[0] == '\0') {
    if (walk.phase == Phase::Late) SayFailure("Invalid --config option: it needs a file name!\n");
    return Walk::StopAndForget;
  }
  settings.config_path = value;
  return Walk::Continue;
}

// Reads one name per line; a CR before the LF (a list written on Windows) and empty lines
// are dropped. Names of any length are taken whole.
bool ReadNames(std::FILE* file, std::vector<std::string>& names) {
  std::string name;
  for (int c = std::fgetc(file);; c = std::fgetc(file)) {
    if (c == EOF || c == '\n') {
      if (!name.empty() && name.back() == '\r') name.pop_back();
      if (!name.empty()) names.push_back(name);
      name.clear();
      if (c == EOF) break;
    } else {
      name += static_cast<char>(c);
    }
  }
  return std::ferror(file) == 0;
}

// --files-from=<file>: the names it lists join the log files at this point of the
// command line; "-" reads them from standard input.
Walk ReadFilesFrom(WalkState& walk, const Switch&, const char* value) {
  const bool from_stdin = std::strcmp(value, "-") == 0;
  const std::string shown = from_stdin ? "standard input" : "'" + EscapedName(value) + "'";
  std::FILE* file = from_stdin ? stdin : std::fopen(value, "r");
  if (file == nullptr) {
    SayFailure("Error opening the list of log files %s: %s.\n", shown.c_str(),
               std::strerror(errno));
    return Walk::Stop;
  }
  const bool read = ReadNames(file, walk.line.names);
  const int reason = errno;
  if (!from_stdin) std::fclose(file);
  if (!read) {
    SayFailure("Error reading the list of log files %s: %s.\n", shown.c_str(),
               std::strerror(reason));
    return Walk::Stop;
  }
  return Walk::Continue;
}

Walk SetTimeBound(const Switch& row, const char* value, std::optional<ClockTime>& bound) {
  ClockTime time = 0;
  if (!ParseIsoTime(value, time)) {
    SayFailure("Invalid --%.*s time '%s': write it as 2024-03-01T06:00:00 or 2024-03-01!\n",
               static_cast<int>(row.name.size()), row.name.data(), EscapedName(value).c_str());
    return Walk::Stop;
  }
  bound = time;
  return Walk::Continue;
}
// --threads=N: 1..256 threads compress the merged log and decode compressed inputs ahead;
// 0 (the default) is one per core.
Walk SetThreads(WalkState&, const Switch&, const char* value) {
  constexpr int kMaxThreads = 256;
  int threads = 0;
  const char* p = value;
  for (; IsDigit(*p) && threads <= kMaxThreads; ++p) threads = threads * 10 + (*p - '0');
  if (p == value || *p != '\0' || threads > kMaxThreads) {
    SayFailure("Invalid --threads value '%s': give a number from 0 (one per core) to %d!\n",
               EscapedName(value).c_str(), kMaxThreads);
    return Walk::Stop;
  }
  settings.threads = threads;
  return Walk::Continue;
}

// --max-open=N: at most N inputs open at once (0, the default: as the open-file limit
// allows); more are merged in passes through temporary files.
Walk SetMaxOpenSwitch(WalkState&, const Switch&, const char* value) {
  if (!SetMaxOpen(settings, value)) {
    SayFailure(
        "Invalid --max-open value '%s': give 0 (as the open-file limit allows) or a number "
        "from %d to %d!\n",
        EscapedName(value).c_str(), MAX_OPEN_LEAST, MAX_OPEN_MOST);
    return Walk::Stop;
  }
  return Walk::Continue;
}

Walk SetSince(WalkState&, const Switch& row, const char* value) {
  return SetTimeBound(row, value, settings.window.since);
}
Walk SetUntil(WalkState&, const Switch& row, const char* value) {
  return SetTimeBound(row, value, settings.window.until);
}

// The filter lists by configuration key. The first switch for a list replaces what the
// configuration file gave it, as every switch overrides the file; further ones append.
struct FilterKey {
  std::string_view key;
  std::vector<std::string> FilterLists::*list;
};
constexpr FilterKey kFilterKeys[] = {
    {"filter-host", &FilterLists::host},   {"filter-request", &FilterLists::request},
    {"filter-agent", &FilterLists::agent}, {"filter-server", &FilterLists::server},
    {"filter-user", &FilterLists::user},
};

// The list a filter key fills when a switch replaces it for the first time; null for other
// keys and for a list already replaced.
std::vector<std::string>* ListToReplace(WalkState& walk, std::string_view key, unsigned& bit) {
  for (unsigned i = 0; i < std::size(kFilterKeys); ++i) {
    if (kFilterKeys[i].key != key) continue;
    bit = 1u << i;
    return (walk.replaced_lists & bit) != 0 ? nullptr : &(settings.filters.*kFilterKeys[i].list);
  }
  return nullptr;
}

// A configuration key as a switch: --<key>=<value> under the rules of the file; a boolean
// key alone means "yes". A refused value changes nothing.
Walk SetConfigKey(WalkState& walk, const Switch& row, const char* value) {
  if (value == nullptr) value = "yes";
  if (row.name == "format") return SetFormat(walk, row, value);
  unsigned bit = 0;
  std::vector<std::string>* list = ListToReplace(walk, row.name, bit);
  std::vector<std::string> from_file;
  if (list != nullptr) from_file.swap(*list);
  if (!ApplySetting(row.name, value)) {
    if (list != nullptr) from_file.swap(*list);
    SayFailure("Invalid --%.*s value '%s'!\n", static_cast<int>(row.name.size()), row.name.data(),
               EscapedName(value).c_str());
    return Walk::Stop;
  }
  walk.replaced_lists |= bit;
  if (row.name == "verbose" && settings.verbose) settings.quiet = false;  // the later one wins
  return Walk::Continue;
}

// The switches, in usage-text order: the original single-letter switches first.
constexpr Phase E = Phase::Early;
constexpr Phase L = Phase::Late;
constexpr Switch kSwitches[] = {
    {'h', "", Takes::Nothing, L, ShowHelp, "  -Help display this message\n"},
    {'v', "", Takes::Nothing, L, SetVerbose, "  -Verbose display verbose progress messages\n"},
    {'n', "", Takes::Nothing, L, SetNoVhost, "  -Novhost suppress virtual host in field two\n"},
    {'f', "", Takes::Value, L, SetFormat, "  -Format <log format>\n"},
    {'m', "", Takes::Nothing, L, SetMac, "  -Mac newlines\n"},
    {'u', "", Takes::Nothing, L, SetUnix, "  -Unix newlines\n"},
    {'d', "", Takes::Nothing, L, SetDos, "  -Dos/Windows newlines\n"},
    {'p', "", Takes::Nothing, L, SetPlain, "  -Plain - disable compression\n"},
    {'l', "", Takes::Attached, L, SetLevel, "  -L<digit> - set compression level\n"},
    {'o', "output", Takes::Value, E, SetOutput,
     "  -Output <file>, --output=<file> write the merged log to <file>; - is standard output\n"},
    {'\0', "config", Takes::Value, E, SetConfig,
     "  --config=<file> read the settings from <file> instead of Stitcher.cfg\n"},
    {'\0', "files-from", Takes::Value, L, ReadFilesFrom,
     "  --files-from=<file> merge the log files named in <file>, one per line; - is standard "
     "input\n"},
    {'\0', "since", Takes::Value, L, SetSince,
     "  --since=<time> keep entries from this time on (2024-03-01T06:00:00 or 2024-03-01)\n"},
    {'\0', "until", Takes::Value, L, SetUntil, "  --until=<time> keep entries before this time\n"},
    {'\0', "no-header", Takes::Nothing, L, SetNoHeader,
     "  --no-header leave out the header line(s) of the output format\n"},
    {'\0', "quiet", Takes::Nothing, L, SetQuietRun, "  --quiet print nothing but problems\n"},
    {'\0', "threads", Takes::Value, L, SetThreads,
     "  --threads=<n> threads compressing the output and reading inputs ahead (default: one "
     "per core)\n"},
    {'\0', "max-open", Takes::Value, L, SetMaxOpenSwitch,
     "  --max-open=<n> inputs open at once; more merge in passes through temporary files "
     "(default: as the open-file limit allows)\n"},
    {'\0', "output-format", Takes::Value, L, SetConfigKey,
     "  --output-format=ncsa|w3c|webstar dialect of the merged log\n"},
    {'\0', "newlines", Takes::Value, L, SetConfigKey,
     "  --newlines=unix|dos|mac line ends of the merged log\n"},
    {'\0', "level", Takes::Value, L, SetConfigKey, "  --level=<digit> gzip compression level\n"},
    {'\0', "compress", Takes::OptionalValue, L, SetConfigKey,
     "  --compress[=yes|no] gzip the merged log\n"},
    {'\0', "verbose", Takes::OptionalValue, L, SetConfigKey,
     "  --verbose[=yes|no] display verbose progress messages\n"},
    {'\0', "vhost", Takes::OptionalValue, L, SetConfigKey,
     "  --vhost[=yes|no] virtual host in field two\n"},
    {'\0', "normalize", Takes::OptionalValue, L, SetConfigKey,
     "  --normalize[=yes|no] clean up every entry's fields\n"},
    {'\0', "lowercase", Takes::OptionalValue, L, SetConfigKey,
     "  --lowercase[=yes|no] lower-case paths when normalising\n"},
    {'\0', "trim-first-n-dirs", Takes::Value, L, SetConfigKey,
     "  --trim-first-n-dirs=<digit> drop leading directories of every path\n"},
    {'\0', "format", Takes::Value, L, SetConfigKey, "  --format=<log format> as -Format\n"},
    {'\0', "timezone", Takes::Value, L, SetConfigKey,
     "  --timezone=<zone> merge in real time, stamps in <zone> (UTC, local, Europe/Berlin)\n"},
    {'\0', "apache-format", Takes::Value, L, SetConfigKey,
     "  --apache-format=<LogFormat line> read inputs laid out by this Apache format\n"},
    {'\0', "nginx-format", Takes::Value, L, SetConfigKey,
     "  --nginx-format=<log_format line> read inputs laid out by this nginx format\n"},
    {'\0', "input-timezone", Takes::Value, L, SetConfigKey,
     "  --input-timezone=<zone> zone of inputs whose stamps carry no offset (default: local)\n"},
    {'\0', "format-for", Takes::Value, L, SetConfigKey,
     "  --format-for='[<pattern>] apache|nginx <line>' read the inputs whose names match\n"
     "      <pattern> by this server format line (without a pattern: lines no dialect reads)\n"},
    {'\0', "input-timezone-for", Takes::Value, L, SetConfigKey,
     "  --input-timezone-for='<pattern> <zone>' as --input-timezone, for the inputs whose names\n"
     "      match <pattern> (repeatable; the first match wins)\n"},
    {'\0', "filter-host", Takes::Value, L, SetConfigKey,
     "  --filter-host=<pattern> filter on the client host (+ keeps, otherwise drops)\n"},
    {'\0', "filter-request", Takes::Value, L, SetConfigKey,
     "  --filter-request=<pattern> filter on the request path\n"},
    {'\0', "filter-agent", Takes::Value, L, SetConfigKey,
     "  --filter-agent=<pattern> filter on the user agent\n"},
    {'\0', "filter-server", Takes::Value, L, SetConfigKey,
     "  --filter-server=<pattern> filter on the virtual host\n"},
    {'\0', "filter-user", Takes::Value, L, SetConfigKey,
     "  --filter-user=<pattern> filter on the user name\n"},
    {'\0', "help", Takes::Nothing, L, AskHelp, "  --help display this message and exit\n"},
    {'\0', "version", Takes::Nothing, L, AskVersion, "  --version display the version and exit\n"},
    {'\0', "", Takes::Nothing, L, EndSwitches, "  -- every later argument is a log file\n"},
};

// ---- The walk --------------------------------------------------------------------------------

const Switch* FindLetter(char letter) {
  letter = ToLowerAscii(letter);
  if (letter == '\0') return nullptr;
  for (const Switch& s : kSwitches) {
    if (s.letter == letter) return &s;
  }
  return nullptr;
}

// "--" alone is the row with neither letter nor name.
const Switch* FindName(std::string_view name) {
  for (const Switch& s : kSwitches) {
    if (s.name == name && (!name.empty() || s.letter == '\0')) return &s;
  }
  return nullptr;
}

// Whether "--name" (without '=') or "--name=value" suits how the switch takes its value.
bool LongFormFits(Takes takes, bool has_value) {
  switch (takes) {
    case Takes::Value:
      return has_value;
    case Takes::OptionalValue:
      return true;
    case Takes::Nothing:
    case Takes::Attached:
      return !has_value;
  }
  return false;
}

// Runs one switch at argv[index]; a switch that takes the next argument moves `index` on.
Walk RunSwitch(WalkState& walk, int argc, char** argv, int& index) {
  const char* arg = argv[index];
  const Switch* row = nullptr;
  const char* value = nullptr;
  if (arg[1] == '-') {
    // --name or --name=value
    const char* equals = std::strchr(arg + 2, '=');
    const std::string_view name = equals != nullptr ? std::string_view(arg + 2, equals - (arg + 2))
                                                    : std::string_view(arg + 2);
    row = FindName(name);
    if (row == nullptr || !LongFormFits(row->takes, equals != nullptr)) {
      if (walk.phase == Phase::Late) {
        SayFailure("Invalid option '%s'!\n", EscapedName(arg).c_str());
      }
      return Walk::StopAndForget;
    }
    if (equals != nullptr) value = equals + 1;
  } else {
    row = FindLetter(arg[1]);
    if (row == nullptr) return Walk::StopAndForget;
    if (row->takes == Takes::Value) {
      if (index + 1 < argc) value = argv[++index];
    } else if (row->takes == Takes::Attached) {
      value = arg + 2;
    }
  }
  // Each switch acts in its own phase; early switches also in the late one (see SetOutput).
  if (walk.phase == Phase::Early && row->phase != Phase::Early) {
    return row->apply == EndSwitches ? Walk::EndSwitches : Walk::Continue;
  }
  return row->apply(walk, *row, value);
}

// Walks the arguments in one phase.
Walk WalkPhase(WalkState& walk, int argc, char** argv) {
  bool switches = true;
  for (int index = 1; index < argc; ++index) {
    const char* arg = argv[index];
    if (!switches || arg[0] != '-') {
      if (walk.phase == Phase::Late) walk.line.names.emplace_back(arg);
      continue;
    }
    const Walk step = RunSwitch(walk, argc, argv, index);
    if (step == Walk::EndSwitches) {
      switches = false;
    } else if (step != Walk::Continue) {
      if (walk.phase == Phase::Late) return step;
      // The late walk meets the same switch and reports it; nothing later acts early.
      return Walk::Continue;
    }
  }
  return Walk::Continue;
}

}  // namespace

void ApplyEarlySwitches(int argc, char** argv) {
  CommandLine unused;
  WalkState walk{Phase::Early, unused};
  WalkPhase(walk, argc, argv);
}

CommandLine WalkArguments(int argc, char** argv) {
  CommandLine line;
  WalkState walk{Phase::Late, line};
  switch (WalkPhase(walk, argc, argv)) {
    case Walk::Continue:
    case Walk::EndSwitches:
      line.outcome = line.names.empty() ? CommandOutcome::Usage : CommandOutcome::Merge;
      return line;
    case Walk::Help:
      line.outcome = CommandOutcome::Help;
      break;
    case Walk::Version:
      line.outcome = CommandOutcome::Version;
      break;
    case Walk::Stop:
      line.outcome = CommandOutcome::Stop;
      break;
    case Walk::StopAndForget:
      line.outcome = CommandOutcome::Usage;
      break;
  }
  line.names.clear();
  return line;
}

const char* VersionText() {
  return "Stitcher Version " STITCHER_VERSION;
}

void PrintUsage(std::FILE* stream) {
  std::fprintf(stream, "%s\n", VersionText());
  std::fprintf(stream, "Usage 'Stitcher <options> <log-file-list>'\n");
  std::fprintf(stream, "where <options> may include:\n");
  for (const Switch& s : kSwitches) std::fputs(s.usage, stream);
  std::fprintf(stream, "and <log-file-list> is a set of text files to merge.\n");
}
