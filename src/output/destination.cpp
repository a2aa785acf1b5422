#include "output/destination.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/messages.h"

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
  const char* name = options.compress ? "merged.gz" : "merged.log";
  destination.final_spec.Set(first_input);
  destination.final_spec.Set(name);
  destination.partial_spec = destination.final_spec;
  destination.partial_spec.Set((std::string(name) + kPartialSuffix).c_str());
  return destination;
}

bool IsDestination(const Destination& destination, const char* input_name) {
  FileSpec spec;
  spec.Set(input_name);
  if (!SameFile(spec.Path(), destination.final_spec.Path()) &&
      !SameFile(spec.Path(), destination.partial_spec.Path())) {
    return false;
  }
  char display[FileSpec::kPathSize];
  spec.GetName(display);
  Say("Left out '%s': it is the merged output file.\n", display);
  return true;
}

std::unique_ptr<OutputSink> OpenDestination(const Destination& destination) {
  std::FILE* file = destination.partial_spec.Open("wb");
  if (destination.options.compress) return MakeGzipSink(file, destination.options.level);
  return MakePlainSink(file);
}

bool Publish(const Destination& destination, bool complete) {
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
