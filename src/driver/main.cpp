// The program: settings from defaults, the configuration file and the switches, then the
// merge of the named log files. The shell has already expanded any wildcards.

#include <cstdio>
#include <string>
#include <vector>

#include "base/messages.h"
#include "driver/command_line.h"
#include "driver/config.h"
#include "driver/entry_rules.h"
#include "driver/merge.h"
#include "driver/same_content.h"
#include "driver/settings.h"
#include "input/memory_pool.h"
#include "platform/console.h"

namespace {

constexpr const char* kDefaultConfig = "Stitcher.cfg";

// Reads the configuration file --config names (which must exist), else "Stitcher.cfg" in the
// working directory when there is one. Returns the path read, or nothing.
std::string ReadConfig() {
  const bool chosen = !settings.config_path.empty();
  const std::string path = chosen ? settings.config_path : kDefaultConfig;
  return ReadConfigFile(path.c_str(), chosen) ? path : std::string();
}

// Runs the merge, or answers what the command line asked for instead.
bool Run(const CommandLine& line) {
  switch (line.outcome) {
    case CommandOutcome::Merge: {
      RunZones zones;
      if (!LoadRunZones(zones)) return false;
      EntryRules rules;
      if (!LoadEntryRules(rules, settings.output_format)) return false;
      // An input with the same content as an earlier one is merged once.
      const std::vector<bool> left_out = SameContentAsEarlier(line.names);
      std::vector<MergeInput> inputs;
      inputs.reserve(line.names.size());
      for (size_t i = 0; i < line.names.size(); ++i) {
        if (left_out[i]) continue;
        inputs.emplace_back();
        inputs.back().name = line.names[i].c_str();
        inputs.back().rules = &rules;
      }
      return MergeLogs(static_cast<int>(inputs.size()), inputs.data(), zones);
    }
    case CommandOutcome::Help:
      PrintUsage(stdout);
      return true;
    case CommandOutcome::Version:
      std::printf("%s\n", VersionText());
      return true;
    case CommandOutcome::Usage:
      PrintUsage(MessageStream());
      return false;
    case CommandOutcome::Stop:
      return false;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  MPLockInit();
  ResetSettings();
  // Where the merged log goes decides where messages go, before anything is said: with the
  // merged log on standard output, every message goes to standard error.
  ApplyEarlySwitches(argc, argv);
  if (settings.output_path == "-") SetMessageStream(stderr);
  const std::string config = ReadConfig();
  const CommandLine line = WalkArguments(argc, argv);
  SetQuiet(settings.quiet);
  if (settings.verbose && !config.empty()) {
    SayInfo("Read configuration file '%s'.\n", EscapedName(config).c_str());
  }
  // Every way Run fails has printed its reason; the exit status comes from the channel.
  if (!Run(line)) NoteFailure();
  if (settings.verbose) SayInfo("Complete.\n");
  MPLockFini();
  RestoreConsole();
  std::fflush(stdout);
  std::fflush(MessageStream());
  return ExitStatus();
}
