#pragma once
// The settings by name: one table serves the configuration file's keys, the long options
// ("--name=value" or "--name value") and the single-letter switches ("-Verbose").
//
// A row names its setting once: its letter (for the original switches), its long name
// (which is also its configuration key when the row says so), how it takes a value, how it
// applies, what values it takes (for messages and completion) and its line of the usage
// text. A configuration line "key value" and the option "--key=value" go through the same
// row and the same check, so they can never drift apart.

#include <span>
#include <string_view>
#include <vector>

#include "output/writers.h"

struct CommandLine;

// ---- The rows ------------------------------------------------------------------------------
// How an option takes its value.
enum class Takes {
  Nothing,   // a bare switch: -Verbose, --no-header
  Value,     // -X <next argument>, --name=<value> or --name <value>
  Attached,  // the rest of the argument after the letter: -L5
  Boolean,   // --name alone means yes; --name=<yes|no|on|off>
};

// Where an option comes from when it is applied; messages differ, the rules do not.
enum class OptionSource { CommandLine, ConfigFile };

// What applying an option did.
enum class Applied {
  Done,
  Refused,      // the value is not valid: the caller says so, listing the row's valid values
  Failed,       // it failed and said why
  Usage,        // -Help: the usage text, a failure
  Help,         // --help
  Version,      // --version
  EndSwitches,  // "--": every later argument is a log file
};

struct OptionRow;

// What an option may touch besides the settings.
struct OptionContext {
  OptionSource source = OptionSource::CommandLine;
  CommandLine* line = nullptr;  // --files-from adds names here (command line only)
  unsigned replaced_lists = 0;  // filter lists a switch already replaced (one bit each)
};

using ApplyOption = Applied (*)(OptionContext& context, const OptionRow& row, const char* value);

struct OptionRow {
  char letter;            // the single-dash switch's letter; '\0' when there is none
  std::string_view name;  // the long name (and key); empty for a letter alone and for "--"
  Takes takes;
  bool key;    // the configuration file takes it too, as "<name> <value>"
  bool early;  // acts before the configuration file is read (--config, -Output)
  // Set for a letter that counts only as the start of this word in either case (-o, -out,
  // -Output): any other argument with that letter is refused, so "-ox.gz" never writes a
  // file. Null: only the letter counts, as for the original switches.
  const char* word;
  ApplyOption apply;
  const char* valid;  // the values it takes, for "give ...!" messages; null: no value
  const char* usage;  // its line(s) of the usage text
};

// Every row, in usage-text order: the original single-letter switches first.
std::span<const OptionRow> OptionRows();

// ---- Finding rows ----------------------------------------------------------------------------
// The row of a long name or configuration key, compared exactly; "" finds "--" itself.
// Null when there is none.
const OptionRow* FindLongOption(std::string_view name);

// The row of a single-dash argument ("-v", "-Verbose", "-o"), its letter in either case;
// null when the letter is unknown or the argument is not the row's word.
const OptionRow* FindSwitch(const char* argument);

// ---- Values -------------------------------------------------------------------------------
// Applies the row with `value` (null when none was given; a Boolean row then means yes).
Applied Apply(OptionContext& context, const OptionRow& row, const char* value);

// Usage, Help, Version or EndSwitches for the rows whose whole effect is that outcome;
// Done for every row that changes settings.
Applied OutcomeOf(const OptionRow& row);

// The names of the configuration keys, in table order.
std::vector<std::string_view> ConfigKeyNames();
