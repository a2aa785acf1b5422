// The program: settings from defaults, "Stitcher.cfg" and the switches, then the merge of
// the named log files. The shell has already expanded any wildcards.

#include <cstdio>
#include <vector>

#include "base/messages.h"
#include "base/text.h"
#include "driver/config.h"
#include "driver/merge.h"
#include "driver/settings.h"
#include "input/memory_pool.h"
#include "platform/console.h"

namespace {

// ---- Switches ------------------------------------------------------------------------------

// What the walk does after a switch.
enum class Walk { Continue, StopAndForget };

struct SwitchWalk {
  int argc;
  char** argv;
  int index;  // the argument being looked at; a switch with a value moves it on
};

Walk ShowHelp(SwitchWalk&) {
  return Walk::StopAndForget;
}
Walk SetVerbose(SwitchWalk&) {
  settings.verbose = true;
  return Walk::Continue;
}
Walk SetNoVhost(SwitchWalk&) {
  settings.vhost = false;
  return Walk::Continue;
}
Walk SetMac(SwitchWalk&) {
  settings.newlines = NewlineStyle::MAC;
  return Walk::Continue;
}
Walk SetUnix(SwitchWalk&) {
  settings.newlines = NewlineStyle::UNIX;
  return Walk::Continue;
}
Walk SetDos(SwitchWalk&) {
  settings.newlines = NewlineStyle::DOS;
  return Walk::Continue;
}
Walk SetPlain(SwitchWalk&) {
  settings.compress = false;
  return Walk::Continue;
}

// -Format takes the next argument, which must be 1..511 characters.
Walk SetFormat(SwitchWalk& walk) {
  const char* text = walk.index + 1 < walk.argc ? walk.argv[walk.index + 1] : "";
  if (!SetUserFormat(settings, text)) {
    SayFailure("Invalid -format command!\n");
    return Walk::StopAndForget;
  }
  ++walk.index;
  return Walk::Continue;
}

// -L<digit>: only the character right after the letter counts; a bad one is reported and
// the run goes on with the level unchanged.
Walk SetLevel(SwitchWalk& walk) {
  if (!SetLevelDigit(settings, walk.argv[walk.index] + 2)) SayFailure("Invalid -L command!\n");
  return Walk::Continue;
}

// The switches, decided by the letter after the '-' in either case, in usage-text order.
struct Switch {
  char letter;
  Walk (*apply)(SwitchWalk& walk);
  const char* usage;
};
constexpr Switch kSwitches[] = {
    {'h', ShowHelp, "  -Help display this message\n"},
    {'v', SetVerbose, "  -Verbose display verbose progress messages\n"},
    {'n', SetNoVhost, "  -Novhost suppress virtual host in field two\n"},
    {'f', SetFormat, "  -Format <log format>\n"},
    {'m', SetMac, "  -Mac newlines\n"},
    {'u', SetUnix, "  -Unix newlines\n"},
    {'d', SetDos, "  -Dos/Windows newlines\n"},
    {'p', SetPlain, "  -Plain - disable compression\n"},
    {'l', SetLevel, "  -L<digit> - set compression level\n"},
};

void PrintUsage() {
  Say("Stitcher Version 1.1\n");
  Say("Usage 'Stitcher <options> <log-file-list>'\n");
  Say("where <options> may include:\n");
  for (const Switch& s : kSwitches) Say("%s", s.usage);
  Say("and <log-file-list> is a set of text files to merge.\n");
}

// An unknown letter, or none at all (a lone "-"), stops the walk like -Help.
Walk ApplySwitch(SwitchWalk& walk) {
  const char letter = ToLowerAscii(walk.argv[walk.index][1]);
  for (const Switch& s : kSwitches) {
    if (letter != '\0' && s.letter == letter) return s.apply(walk);
  }
  return Walk::StopAndForget;
}

// Applies the switches left to right and returns the log file names in command-line order
// (none when a switch stopped the walk).
std::vector<MergeInput> WalkArguments(int argc, char** argv) {
  std::vector<MergeInput> inputs;
  SwitchWalk walk{argc, argv, 1};
  for (; walk.index < argc; ++walk.index) {
    const char* arg = argv[walk.index];
    if (arg[0] != '-') {
      inputs.emplace_back().name = arg;
    } else if (ApplySwitch(walk) == Walk::StopAndForget) {
      inputs.clear();
      break;
    }
  }
  return inputs;
}

// Runs the merge, or explains the usage when there is nothing to merge.
bool Run(std::vector<MergeInput>& inputs) {
  if (inputs.size() >= 2) return MergeLogs(static_cast<int>(inputs.size()), inputs.data());
  if (inputs.size() == 1) Say("No point in merging a single file!\n");
  PrintUsage();
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  MPLockInit();
  ResetSettings();
  ReadConfig();
  std::vector<MergeInput> inputs = WalkArguments(argc, argv);
  // Every way Run fails has printed its reason; the exit status comes from the channel.
  if (!Run(inputs)) NoteFailure();
  if (settings.verbose) Say("Complete.\n");
  MPLockFini();
  RestoreConsole();
  std::fflush(MessageStream());
  return ExitStatus();
}
