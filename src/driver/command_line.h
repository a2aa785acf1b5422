#pragma once
// The command line: switches and the names of the log files to merge.
//
// A switch is "-" and a letter (only the letter counts, in either case: -Verbose, -v and
// -VERY are one switch) or "--" and a long name ("--output=merged.gz"). "--" alone ends the
// switches. Every other argument is a log file. One table of switches drives both the walk
// and the usage text.

#include <cstdio>
#include <string>
#include <vector>

// ---- What the command line asks for -------------------------------------------------------
enum class CommandOutcome {
  Merge,    // merge `names` (at least one)
  Usage,    // no log file, or a switch that stops the walk: print the usage text; a failure
  Help,     // --help: print the usage text on standard output; success
  Version,  // --version: print the version on standard output; success
  Stop,     // a switch failed and said why: nothing more to do; a failure
};

struct CommandLine {
  CommandOutcome outcome = CommandOutcome::Usage;
  std::vector<std::string> names;  // the log files in command-line order
};

// ---- Walking the arguments -----------------------------------------------------------------
// Applies only the switches that must act before the configuration file is read:
// --config (which file to read) and -Output / --output (standard output as the destination
// moves every message to standard error before anything is said). Later occurrences win.
void ApplyEarlySwitches(int argc, char** argv);

// Applies every other switch to the settings, left to right (a later switch overrides an
// earlier one and the configuration file), and collects the log file names, including
// those read with --files-from. Switches and names may be mixed in any order. A switch
// that stops the walk forgets the names collected so far.
CommandLine WalkArguments(int argc, char** argv);

// ---- Texts ---------------------------------------------------------------------------------
// The program's name and version, "Stitcher Version <major>.<minor>".
const char* VersionText();

// Prints the usage text, one line per switch of the table, to `stream`.
void PrintUsage(std::FILE* stream);
