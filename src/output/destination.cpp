#include "output/destination.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "base/messages.h"
#include "base/text.h"
#include "output/deflate_sink.h"
#include "platform/replace_file.h"
#include "platform/signals.h"
#include "platform/system.h"

namespace {

// The output while it is being written: "<final name>.<random>.partial".
constexpr const char* kPartialSuffix = ".partial";

// True when both paths name one existing file (same device and inode), however spelled.
bool SameFile(const char* a, const char* b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// True when `name` is "<final_name>.<random>.partial": a partial file of that merged log.
bool IsPartialName(std::string_view name, std::string_view final_name) {
  const std::string_view suffix = kPartialSuffix;
  if (name.size() != final_name.size() + 1 + kUniqueRandomCharacters + suffix.size()) return false;
  if (!name.starts_with(final_name) || name[final_name.size()] != '.' || !name.ends_with(suffix))
    return false;
  const std::string_view random = name.substr(final_name.size() + 1, kUniqueRandomCharacters);
  return std::all_of(random.begin(), random.end(), IsAlnum);
}

// True when `spec` names a partial file beside the merged log of `destination`.
bool IsPartialFile(const Destination& destination, const FileSpec& spec) {
  char name[FileSpec::kPathSize];
  char final_name[FileSpec::kPathSize];
  spec.GetName(name);
  destination.final_spec.GetName(final_name);
  if (!IsPartialName(name, final_name)) return false;
  std::error_code error;
  const std::filesystem::path input(spec.Path());
  const std::filesystem::path output(destination.final_spec.Path());
  return std::filesystem::equivalent(input.parent_path(), output.parent_path(), error) && !error;
}

// Closes and removes the partial file, and forgets it.
void DiscardPartial(Destination& destination) {
  if (destination.partial_fd >= 0) CloseFile(destination.partial_fd);
  destination.partial_fd = -1;
  if (destination.partial_path.empty()) return;
  HoldEndingSignals();
  std::remove(destination.partial_path.c_str());
  ForgetRemoveOnSignal();
  ReleaseEndingSignals();
  destination.partial_path.clear();
}

}  // namespace

Destination DestinationBeside(const char* first_input, const DestinationOptions& options) {
  Destination destination;
  destination.options = options;
  if (options.path != nullptr && std::strcmp(options.path, STANDARD_OUTPUT_PATH) == 0) {
    destination.standard_output = true;
    return destination;
  }
  if (options.path != nullptr) {
    destination.final_spec.Set(options.path);
  } else {
    destination.final_spec.Set(first_input);
    destination.final_spec.Set(options.compress ? "merged.gz" : "merged.log");
  }
  return destination;
}

bool DestinationUsable(const Destination& destination) {
  // A chosen path that names a directory can never become the merged log: say so before
  // any input is read, rather than failing at the final rename.
  std::error_code error;
  if (!destination.standard_output && destination.options.path != nullptr &&
      std::filesystem::is_directory(destination.options.path, error)) {
    SayFailure("Error opening output file '%s': it is a directory.\n",
               EscapedName(destination.options.path).c_str());
    return false;
  }
  if (destination.standard_output && destination.options.compress && StandardOutputIsTerminal()) {
    SayFailure(
        "Compressed data is not written to a terminal: add -Plain, or redirect standard "
        "output.\n");
    return false;
  }
  return true;
}

bool IsDestination(const Destination& destination, const char* input_name) {
  if (destination.standard_output) return false;
  FileSpec spec;
  spec.Set(input_name);
  if (!SameFile(spec.Path(), destination.final_spec.Path()) && !IsPartialFile(destination, spec)) {
    return false;
  }
  Say("Left out '%s': it is the merged output file.\n", EscapedName(input_name).c_str());
  return true;
}

std::unique_ptr<OutputSink> OpenDestination(Destination& destination) {
  if (destination.standard_output) {
    return MakeStandardOutputSink(destination.options.compress, destination.options.level,
                                  destination.options.threads);
  }
  if (destination.final_spec.WasCut()) return nullptr;  // a cut name is some other file
  const char* final_path = destination.final_spec.Path();
  // Created and registered for removal as one step: a signal in between would leave it.
  HoldEndingSignals();
  destination.partial_fd =
      CreateUniqueFile(std::string(final_path) + ".", kPartialSuffix, destination.partial_path);
  const bool registered =
      destination.partial_fd >= 0 && RemoveOnSignal(destination.partial_path.c_str());
  ReleaseEndingSignals();
  if (destination.partial_fd < 0) return nullptr;
  // A merged log restricted to its owner or a group stays so while the new one is written.
  if (!registered || !TakeModeAndGroup(destination.partial_fd, final_path)) {
    DiscardPartial(destination);
    return nullptr;
  }
  std::FILE* file = WriteStreamOn(destination.partial_fd);
  std::unique_ptr<OutputSink> sink =
      destination.options.compress
          ? MakeDeflateSink(file, destination.options.level, destination.options.threads)
          : MakePlainSink(file);
  if (sink == nullptr) DiscardPartial(destination);
  return sink;
}

bool Publish(Destination& destination, bool complete) {
  if (destination.standard_output) return complete;
  if (destination.partial_fd < 0) return false;  // never opened
  if (complete && !SyncFile(destination.partial_fd)) {
    SayFailure("Write error on output file!\n");
    complete = false;
  }
  if (!complete) {
    DiscardPartial(destination);
    return false;
  }
  CloseFile(destination.partial_fd);
  destination.partial_fd = -1;
  const char* final_path = destination.final_spec.Path();
  HoldEndingSignals();
  const bool renamed = std::rename(destination.partial_path.c_str(), final_path) == 0;
  if (renamed) ForgetRemoveOnSignal();
  ReleaseEndingSignals();
  if (!renamed) {
    SayFailure("Error renaming output file.\n");
    DiscardPartial(destination);
    return false;
  }
  destination.partial_path.clear();
  // The rename itself reaches the disk only with its directory. The merged log is in place
  // either way, so a directory that cannot be synced is not reported.
  SyncDirectoryOf(final_path);
  return true;
}
