#pragma once
// The command line: switches and the names of the log files to merge.
//
// A switch is "-" and a letter (for the original switches only the letter counts, in either
// case: -Verbose, -v and -VERY are one switch; -Output counts only as a start of its own
// word) or "--" and a long name ("--output=merged.gz" or "--output merged.gz"). "--" alone
// ends the switches. Every other argument is a log file. The option table (options.h)
// drives the reading, the settings and the usage text.

#include <cstdio>
#include <string>
#include <vector>

struct OptionRow;

// ---- What the command line asks for -------------------------------------------------------
enum class CommandOutcome {
  Merge,    // merge `names` (at least one)
  Usage,    // no log file, -Help or a lone "-": print the usage text; a failure
  Help,     // --help: print the usage text on standard output; success
  Version,  // --version: print the version on standard output; success
  Stop,     // a switch was wrong or failed and said why: nothing more to do; a failure
};

// One argument as read: a switch with its value (null when it got none), or a log file
// name (`row` null, the name in `value`).
struct GivenArgument {
  const OptionRow* row = nullptr;
  const char* value = nullptr;
  const char* spelled = nullptr;  // the switch as typed, for messages
};

struct CommandLine {
  CommandOutcome outcome = CommandOutcome::Usage;
  std::vector<GivenArgument> given;  // in command-line order, up to a switch that stops
  std::vector<std::string> names;    // the log files in command-line order (after Apply)
};

// ---- Reading and applying ------------------------------------------------------------------
// Splits the arguments into switches with their values and log file names, changing no
// setting. An unknown switch or option, a value missing or not wanted is a usage error:
// one line on the message channel ("stitcher: unknown option '--outptu'; try --help") and
// the outcome Stop. -Help, "-", --help and --version end the reading with their outcome.
CommandLine ReadCommandLine(int argc, char** argv);

// Applies the switches that must act before the configuration file is read: --config
// (which file to read) and -Output / --output. A refused value is said; the outcome
// becomes Stop.
void ApplyEarlySwitches(CommandLine& line);

// Applies every other switch to the settings, left to right (a later switch overrides an
// earlier one and the configuration file), and collects the log file names, including
// those read with --files-from. A refused or failed switch is said and the outcome becomes
// Stop; with nothing to merge it becomes Usage. Names are kept only for Merge.
void ApplySwitches(CommandLine& line);

// The three steps without a configuration file between them (tests use it).
CommandLine WalkArguments(int argc, char** argv);

// ---- Texts ---------------------------------------------------------------------------------
// The program's name and version, "Stitcher Version <major>.<minor>".
const char* VersionText();

// Prints the usage text, one line per row of the option table, to `stream`.
void PrintUsage(std::FILE* stream);
