#pragma once
// The merged log's destination: "merged.gz" (compressed) or "merged.log" beside the first
// named input. It is written as "<name>.partial" and renamed over the name only when
// complete, so a failed run never replaces an earlier good merged log.

#include <memory>

#include "base/file_spec.h"
#include "output/sink.h"

// ---- Where the merged log goes -----------------------------------------------------------
struct DestinationOptions {
  bool compress = true;  // gzip ("merged.gz") or plain text ("merged.log")
  int level = 9;         // gzip level 0..9
};

struct Destination {
  DestinationOptions options;
  FileSpec final_spec;    // the merged log's name
  FileSpec partial_spec;  // the name it is written under until it is complete
};

// The destination beside `first_input` (the first log file named on the command line).
Destination DestinationBeside(const char* first_input, const DestinationOptions& options);

// ---- The same-file guard -------------------------------------------------------------------
// True when `input_name` is the merged log or its partial file, however spelled (the same
// device and inode). Reading it while it is rewritten would destroy it, so such an input
// is left out: says "Left out '<name>': it is the merged output file."
bool IsDestination(const Destination& destination, const char* input_name);

// ---- Writing and publishing ----------------------------------------------------------------
// Creates the partial file and the sink that writes it. Null when it cannot be created or
// the compressor cannot start; nothing is said (the caller reports it).
std::unique_ptr<OutputSink> OpenDestination(const Destination& destination);

// With `complete`, renames the partial file over the final name (a failed rename says
// "Error renaming output file.", removes the partial file and gives false); otherwise
// removes the partial file and gives false.
bool Publish(const Destination& destination, bool complete);
