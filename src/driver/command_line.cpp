#include "driver/command_line.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "base/text.h"
#include "driver/options.h"
#include "driver/settings.h"

#ifndef STITCHER_VERSION
#error "the build defines STITCHER_VERSION from the project version"
#endif

namespace {

// A usage error: one line that names the argument, and where to look.
void SayUsageError(const std::string& text) {
  SayFailure("stitcher: %s\n", text.c_str());
}

// The nearest option for a single-dash argument that is no switch: the long option it
// would be with a second dash ("-output-format=ncsa"), else -Output for anything that starts
// with its letter ("-ox.gz", "-Output=week.gz").
std::string Nearest(const char* argument) {
  const std::string doubled = std::string("-") + argument;
  const char* equals = std::strchr(argument, '=');
  const std::string_view name = equals != nullptr
                                    ? std::string_view(argument + 1, equals - (argument + 1))
                                    : std::string_view(argument + 1);
  if (FindLongOption(name) != nullptr && !name.empty()) return EscapedName(doubled);
  const OptionRow* row = nullptr;
  for (const OptionRow& r : OptionRows()) {
    if (r.word != nullptr && r.letter == ToLowerAscii(argument[1])) row = &r;
  }
  if (row == nullptr) return "";
  const std::string value = equals != nullptr ? EscapedName(equals + 1) : "<file>";
  std::string word = row->word;
  word[0] = ToUpperAscii(word[0]);
  return "-" + word + " " + value + " or --" + std::string(row->name) + "=" + value;
}

// Reads one argument that starts with "-" at argv[index]; a switch that takes the next
// argument moves `index` on. False after a usage error, said.
bool ReadSwitch(int argc, char** argv, int& index, GivenArgument& given) {
  const char* arg = argv[index];
  const std::string shown = EscapedName(arg);
  given.spelled = arg;
  if (arg[1] == '-') {
    // --name, --name=value or --name value
    const char* equals = std::strchr(arg + 2, '=');
    const std::string_view name = equals != nullptr ? std::string_view(arg + 2, equals - (arg + 2))
                                                    : std::string_view(arg + 2);
    const OptionRow* row = FindLongOption(name);
    if (row == nullptr) {
      SayUsageError("unknown option '" + shown + "'; try --help");
      return false;
    }
    const std::string option = "--" + std::string(name);
    given.row = row;
    switch (row->takes) {
      case Takes::Nothing:
      case Takes::Attached:
        if (equals != nullptr) {
          SayUsageError("option '" + option + "' takes no value; try --help");
          return false;
        }
        return true;
      case Takes::Boolean:
        if (equals != nullptr) given.value = equals + 1;
        return true;
      case Takes::Value:
        if (equals != nullptr) {
          given.value = equals + 1;
        } else if (index + 1 < argc) {
          given.value = argv[++index];
        } else {
          SayUsageError("option '" + option + "' needs a value; try --help");
          return false;
        }
        return true;
    }
    return false;
  }
  const OptionRow* row = FindSwitch(arg);
  if (row == nullptr) {
    const std::string nearest = Nearest(arg);
    if (nearest.empty()) {
      SayUsageError("unknown switch '" + shown + "'; try --help");
    } else {
      SayUsageError("unknown switch '" + shown + "'; did you mean " + nearest + "?");
    }
    return false;
  }
  given.row = row;
  if (row->takes == Takes::Value) {
    if (index + 1 >= argc) {
      SayUsageError("switch '" + shown + "' needs a value; try --help");
      return false;
    }
    given.value = argv[++index];
  } else if (row->takes == Takes::Attached) {
    given.value = arg + 2;
  }
  return true;
}

// The switch as the user wrote it, without its value: "--level", "-L", "-Output".
std::string SpelledName(const GivenArgument& given) {
  if (given.spelled[1] == '-') return "--" + std::string(given.row->name);
  if (given.row->takes == Takes::Attached) return std::string(given.spelled, 2);
  return EscapedName(given.spelled);
}

// Applies one switch; false when it stops the walk (the outcome is set).
bool ApplyOne(CommandLine& line, OptionContext& context, const GivenArgument& given) {
  switch (Apply(context, *given.row, given.value)) {
    case Applied::Done:
    case Applied::EndSwitches:
    case Applied::Usage:  // read already; the outcome is Usage
    case Applied::Help:
    case Applied::Version:
      return true;
    case Applied::Refused:
      SayFailure("Invalid %s value '%s': give %s!\n", SpelledName(given).c_str(),
                 EscapedName(given.value != nullptr ? given.value : "").c_str(),
                 given.row->valid != nullptr ? given.row->valid : "no value");
      break;
    case Applied::Failed:
      break;
  }
  line.outcome = CommandOutcome::Stop;
  return false;
}

// A time window that ends where or before it starts keeps no entry: such a run would only
// replace the merged log with an empty one. False, with the reason said.
bool WindowCanSelect(const TimeWindow& window) {
  if (!window.since || !window.until || *window.since < *window.until) return true;
  SayFailure("Invalid time window: --since must be before --until, or no entry is kept!\n");
  return false;
}

}  // namespace

CommandLine ReadCommandLine(int argc, char** argv) {
  CommandLine line;
  line.outcome = CommandOutcome::Merge;
  bool switches = true;
  for (int index = 1; index < argc; ++index) {
    const char* arg = argv[index];
    if (!switches || arg[0] != '-') {
      line.given.push_back(GivenArgument{nullptr, arg, arg});
      continue;
    }
    if (arg[1] == '\0') {  // a lone "-" names no switch and no file
      line.outcome = CommandOutcome::Usage;
      return line;
    }
    GivenArgument given;
    if (!ReadSwitch(argc, argv, index, given)) {
      line.outcome = CommandOutcome::Stop;
      line.given.clear();
      return line;
    }
    // Switches that ask for a text instead of a merge end the reading here.
    switch (OutcomeOf(*given.row)) {
      case Applied::EndSwitches:
        switches = false;
        continue;
      case Applied::Usage:
        line.outcome = CommandOutcome::Usage;
        return line;
      case Applied::Help:
        line.outcome = CommandOutcome::Help;
        return line;
      case Applied::Version:
        line.outcome = CommandOutcome::Version;
        return line;
      default:
        break;
    }
    line.given.push_back(given);
  }
  return line;
}

void ApplyEarlySwitches(CommandLine& line) {
  if (line.outcome == CommandOutcome::Stop) return;
  OptionContext context{OptionSource::CommandLine, &line};
  for (const GivenArgument& given : line.given) {
    if (given.row != nullptr && given.row->early && !ApplyOne(line, context, given)) return;
  }
}

void ApplySwitches(CommandLine& line) {
  if (line.outcome == CommandOutcome::Stop) return;
  OptionContext context{OptionSource::CommandLine, &line};
  for (const GivenArgument& given : line.given) {
    if (given.row == nullptr) {
      line.names.emplace_back(given.value);
    } else if (!given.row->early && !ApplyOne(line, context, given)) {
      break;
    }
  }
  if (line.outcome == CommandOutcome::Merge && !WindowCanSelect(settings.window)) {
    line.outcome = CommandOutcome::Stop;
    line.names.clear();
    return;
  }
  if (line.outcome == CommandOutcome::Merge && line.names.empty()) {
    line.outcome = CommandOutcome::Usage;
  }
  if (line.outcome != CommandOutcome::Merge) line.names.clear();
}

CommandLine WalkArguments(int argc, char** argv) {
  CommandLine line = ReadCommandLine(argc, argv);
  ApplyEarlySwitches(line);
  ApplySwitches(line);
  return line;
}

const char* VersionText() {
  return "Stitcher Version " STITCHER_VERSION;
}

void PrintUsage(std::FILE* stream) {
  std::fprintf(stream, "%s\n", VersionText());
  std::fprintf(stream, "Usage 'Stitcher <options> <log-file-list>'\n");
  std::fprintf(stream, "where <options> may include:\n");
  for (const OptionRow& row : OptionRows()) std::fputs(row.usage, stream);
  std::fprintf(stream, "and <log-file-list> is a set of text files to merge.\n");
}
