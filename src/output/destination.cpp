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
  destination.final_facts = FactsOfPath(destination.final_spec.Path());
  return destination;
}

bool DestinationUsable(const Destination& destination) {
  // A chosen path that can never take the merged log is refused before any input is read,
  // rather than failing at the final rename (or writing a log onto a disk).
  if (!destination.standard_output && destination.options.path != nullptr) {
    const char* refusal = nullptr;
    switch (KindOfNode(destination.options.path)) {
      case NodeKind::Directory:
        refusal = "it is a directory";
        break;
      case NodeKind::BlockDevice:
        refusal = "it is a block device";
        break;
      case NodeKind::Other:
        refusal = "it is neither a file, a character device, a FIFO nor a socket";
        break;
      default:
        break;
    }
    if (refusal != nullptr) {
      SayFailure("Error opening output file '%s': %s.\n",
                 EscapedName(destination.options.path).c_str(), refusal);
      return false;
    }
  }
  if (destination.standard_output && destination.options.compress && StandardOutputIsTerminal()) {
    SayFailure(
        "Compressed data is not written to a terminal: add -Plain, or redirect standard "
        "output.\n");
    return false;
  }
  return true;
}

namespace {

// The same-file guard for `input` against the merged log as `output` describes it.
bool LeftOut(const Destination& destination, const char* input_name, const FileFacts& input,
             const FileFacts& output) {
  if (destination.standard_output) return false;
  if (!IsSameFile(input, output)) {
    // Only a name shaped like a partial file of the merged log needs its directory looked up.
    FileSpec spec;
    spec.Set(input_name);
    if (!IsPartialFile(destination, spec)) return false;
  }
  Say("Left out '%s': it is the merged output file.\n", EscapedName(input_name).c_str());
  return true;
}

}  // namespace

bool IsDestination(const Destination& destination, const char* input_name) {
  if (destination.standard_output) return false;
  FileSpec spec;
  spec.Set(input_name);
  return LeftOut(destination, input_name, FactsOfPath(spec.Path()),
                 FactsOfPath(destination.final_spec.Path()));
}

bool IsDestination(const Destination& destination, const char* input_name, const FileFacts& input) {
  return LeftOut(destination, input_name, input, destination.final_facts);
}

namespace {

// The sink writing the merged log through partial_fd.
std::unique_ptr<OutputSink> SinkOn(const Destination& destination) {
  std::FILE* file = WriteStreamOn(destination.partial_fd);
  return destination.options.compress
             ? MakeDeflateSink(file, destination.options.level, destination.options.threads)
             : MakePlainSink(file);
}

// The sink of a device, FIFO or socket open on `fd`, written in place.
std::unique_ptr<OutputSink> OpenInPlaceSink(Destination& destination, int fd) {
  destination.partial_fd = fd;
  destination.in_place = true;
  std::unique_ptr<OutputSink> sink = SinkOn(destination);
  if (sink == nullptr) {
    CloseFile(fd);
    destination.partial_fd = -1;
  }
  return sink;
}

}  // namespace

std::unique_ptr<OutputSink> OpenDestination(Destination& destination) {
  if (destination.standard_output) {
    return MakeStandardOutputSink(destination.options.compress, destination.options.level,
                                  destination.options.threads);
  }
  if (destination.final_spec.WasCut()) return nullptr;  // a cut name is some other file
  const char* final_path = destination.final_spec.Path();
  if (destination.options.path != nullptr && WrittenInPlace(KindOfNode(final_path))) {
    const InPlaceOpen node = OpenInPlace(final_path);
    if (node.fd >= 0) return OpenInPlaceSink(destination, node.fd);
    // A regular file (or nothing) there now is replaced as any file is.
    if (node.kind != NodeKind::Regular && node.kind != NodeKind::Missing) {
      SayFailure("Error opening output file '%s': %s.\n",
                 EscapedName(destination.options.path).c_str(),
                 node.error != 0 ? std::strerror(node.error) : "it is no longer a device or FIFO");
      return nullptr;
    }
  }
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
  std::unique_ptr<OutputSink> sink = SinkOn(destination);
  if (sink == nullptr) DiscardPartial(destination);
  return sink;
}

bool Publish(Destination& destination, bool complete) {
  if (destination.standard_output) return complete;
  if (destination.partial_fd < 0) return false;  // never opened
  if (destination.in_place) {
    // The sink has flushed and closed its own stream; a device or FIFO has nothing to sync.
    CloseFile(destination.partial_fd);
    destination.partial_fd = -1;
    return complete;
  }
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
