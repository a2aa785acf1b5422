#include "output/destination.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/messages.h"
#include "platform/system.h"

namespace {

constexpr const char* kPartialSuffix = ".partial";  // the output while it is being written

// True when both paths name one existing file (same device and inode), however spelled.
bool SameFile(const char* a, const char* b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
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
  // The partial file sits beside the final name, in the same directory, so the rename
  // never crosses file systems.
  char name[FileSpec::kPathSize];
  destination.final_spec.GetName(name);
  destination.partial_spec = destination.final_spec;
  destination.partial_spec.Set((std::string(name) + kPartialSuffix).c_str());
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
  if (!SameFile(spec.Path(), destination.final_spec.Path()) &&
      !SameFile(spec.Path(), destination.partial_spec.Path())) {
    return false;
  }
  Say("Left out '%s': it is the merged output file.\n", EscapedName(input_name).c_str());
  return true;
}

std::unique_ptr<OutputSink> OpenDestination(const Destination& destination) {
  if (destination.standard_output) {
    return MakeStandardOutputSink(destination.options.compress, destination.options.level);
  }
  std::FILE* file = destination.partial_spec.Open("wb");
  if (destination.options.compress) return MakeGzipSink(file, destination.options.level);
  return MakePlainSink(file);
}

bool Publish(const Destination& destination, bool complete) {
  if (destination.standard_output) return complete;
  if (!complete) {
    std::remove(destination.partial_spec.Path());
    return false;
  }
  if (std::rename(destination.partial_spec.Path(), destination.final_spec.Path()) != 0) {
    SayFailure("Error renaming output file.\n");
    std::remove(destination.partial_spec.Path());
    return false;
  }
  return true;
}
