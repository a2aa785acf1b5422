// The program: settings from defaults, the configuration file and the switches, then the
// merge of the named log files. The shell has already expanded any wildcards.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/resource_limits.h"
#include "driver/command_line.h"
#include "driver/config.h"
#include "driver/entry_rules.h"
#include "driver/follow.h"
#include "driver/merge.h"
#include "driver/run_report.h"
#include "driver/same_content.h"
#include "driver/settings.h"
#include "input/memory_pool.h"
#include "output/destination.h"
#include "platform/console.h"
#include "platform/signals.h"

namespace {

constexpr const char* kDefaultConfig = "Stitcher.cfg";

// Reads the configuration file --config names (which must exist), else "Stitcher.cfg" in the
// working directory when there is one. Returns the path read, or nothing.
std::string ReadConfig() {
  const bool chosen = !settings.config_path.empty();
  const std::string path = chosen ? settings.config_path : kDefaultConfig;
  return ReadConfigFile(path.c_str(), chosen) ? path : std::string();
}

// Decides whether the merged log is compressed from its name and what was asked; false
// (said) when the two disagree.
bool SettleCompression() {
  const std::optional<bool> compress =
      CompressionFor(settings.output_path.empty() ? nullptr : settings.output_path.c_str(),
                     settings.compress, settings.compress_asked_by);
  if (compress) settings.compress = *compress;
  return compress.has_value();
}

// Merges with a run report: the report carries the exit status the run ends with, so it is
// written last; a report that cannot be written fails the run.
bool MergeAndReport(std::vector<MergeInput>& inputs, const RunZones& zones) {
  KeepProblems();
  RunRecord record;
  const bool merged = MergeLogs(static_cast<int>(inputs.size()), inputs.data(), zones, &record);
  if (!merged) NoteFailure();
  WriteRunReport(settings.report_path, inputs, record, ExitStatus());
  return merged;
}

// Runs the merge, or answers what the command line asked for instead.
bool Run(const CommandLine& line) {
  switch (line.outcome) {
    case CommandOutcome::Merge: {
      RunZones zones;
      if (FailureReported() || !SettleCompression() || !LoadRunZones(zones)) {
        Say("Nothing was merged: the settings above need mending first.\n");
        return false;
      }
      EntryRules rules;
      if (!LoadEntryRules(rules, settings.output_format)) {
        Say("Nothing was merged: the settings above need mending first.\n");
        return false;
      }
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
      if (settings.follow) {
        return FollowLogs(static_cast<int>(inputs.size()), inputs.data(), zones);
      }
      if (settings.report_path.empty()) {
        return MergeLogs(static_cast<int>(inputs.size()), inputs.data(), zones);
      }
      return MergeAndReport(inputs, zones);
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
  InstallResourceHandlers();
  EndQuietlyOnClosedPipe();
  MPLockInit();
  ResetSettings();
  // Standard output carries only what was asked for (the merged log with -Output -, the
  // usage text with --help); every message goes to standard error.
  SetMessageStream(stderr);
  // A command line that cannot be read stops here, before any file is looked at.
  CommandLine line = ReadCommandLine(argc, argv);
  ApplyEarlySwitches(line);
  std::string config;
  if (line.outcome != CommandOutcome::Stop) config = ReadConfig();
  ApplySwitches(line);
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
