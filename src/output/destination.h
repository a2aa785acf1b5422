#pragma once
// The merged log's destination: "merged.gz" (compressed) or "merged.log" beside the first
// named input that is a regular file. It is written as a new file of a unique, unpredictable name
// beside it,
// "<name>.<random>.partial", and renamed over the name only when complete and on disk, so
// a failed run never replaces an earlier good merged log, two runs never write into one
// file, and nothing that others placed in the directory is ever opened.

#include <memory>
#include <string>

#include "base/file_spec.h"
#include "output/sink.h"

// ---- Where the merged log goes -----------------------------------------------------------
struct DestinationOptions {
  bool compress = true;  // gzip ("merged.gz") or plain text ("merged.log")
  int level = 9;         // gzip level 0..9
};

struct Destination {
  DestinationOptions options;
  FileSpec final_spec;  // the merged log's name
  // The partial file it is written under until it is complete: set by OpenDestination, kept
  // open (for the sync before the rename) until Publish, which empties it.
  std::string partial_path;
  int partial_fd = -1;
};

// The destination beside `first_input` (the first log file named on the command line that
// is a regular file; "" for the working directory).
Destination DestinationBeside(const char* first_input, const DestinationOptions& options);

// ---- The same-file guard -------------------------------------------------------------------
// True when `input_name` is the merged log, however spelled (the same device and inode),
// or a partial file of it (its name beside the merged log, as an interrupted run leaves
// one). Reading the one would destroy it while it is rewritten, and the other would merge
// earlier output twice, so such an input is left out: says "Left out '<name>': it is the
// merged output file."
bool IsDestination(const Destination& destination, const char* input_name);

// ---- Writing and publishing ----------------------------------------------------------------
// Creates the partial file (new, exclusively, never through a link; mode from the umask, or
// the mode and group of the merged log it will replace) and the sink that writes it. An
// ending signal removes it until Publish. Null when it cannot be created or the compressor
// cannot start, and then nothing is left behind; nothing is said (the caller reports it).
std::unique_ptr<OutputSink> OpenDestination(Destination& destination);

// With `complete`, syncs the partial file to disk, renames it over the final name and
// syncs the directory; gives true. A failed sync says "Write error on output file!", a
// failed rename "Error renaming output file."; either removes the partial file and gives
// false. Without `complete`, removes the partial file and gives false.
bool Publish(Destination& destination, bool complete);
