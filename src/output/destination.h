#pragma once
// The merged log's destination: a chosen path, or "merged.gz" (compressed) or "merged.log"
// beside the first named input that is a regular file, or standard output. A file is
// written as a new file of a unique, unpredictable name beside its name,
// "<name>.<random>.partial", and renamed over the name only when complete and on disk, so
// a failed run never replaces an earlier good merged log, two runs never write into one
// file, and nothing that others placed in the directory is ever opened. A chosen path that
// leads to a character device, a FIFO or a socket is written in place instead, as a shell's
// redirection writes it: such a node is never replaced by a file. A symlink at the name is
// replaced like any other file: the file it leads to is left alone.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/file_spec.h"
#include "output/sink.h"
#include "platform/descriptor.h"

// ---- Where the merged log goes -----------------------------------------------------------
// The path that stands for standard output.
inline constexpr const char* STANDARD_OUTPUT_PATH = "-";

struct DestinationOptions {
  bool compress = true;  // gzip ("merged.gz") or plain text ("merged.log")
  int level = 9;         // gzip level 0..9
  // The merged log's path as the user chose it; null for the default name beside the first
  // input; STANDARD_OUTPUT_PATH for standard output.
  const char* path = nullptr;
  int threads = 0;  // threads compressing the merged log; 0: one per core
  // The header line(s) the merged log starts with ("" for a dialect without one, or when
  // left out). A file already at a chosen path that does not start with it is no merged
  // log, most likely a log the path was meant to read, and is never replaced.
  const char* header = "";
};

struct Destination {
  DestinationOptions options;
  bool standard_output = false;  // the bytes go to standard output; no file, no rename
  FileSpec final_spec;           // the merged log's name
  FileFacts final_facts;         // the merged log already there, if any (one stat at the start)
  // The partial file it is written under until it is complete: set by OpenDestination, kept
  // open (for the sync before the rename) until Publish, which empties it.
  std::string partial_path;
  int partial_fd = -1;
  int open_error = 0;  // errno of a failed OpenDestination, for its message
  // The chosen path is a device, FIFO or socket, open on partial_fd and written directly:
  // no partial file, no rename.
  bool in_place = false;
};

// The destination: options.path when set, else beside `first_input` (the first log file
// named on the command line that is a regular file; "" for the working directory).
Destination DestinationBeside(const char* first_input, const DestinationOptions& options);

// False, with the reason said, when the destination can never be written or must not be:
// a chosen path that is a directory, a block device or another node that is neither a
// file, a character device, a FIFO nor a socket, lies in a directory that does not exist,
// or names a file that is not a merged log (see `header`); or compressed data to a terminal
// (refused as gzip does, since nobody can read it there).
bool DestinationUsable(const Destination& destination);

// Whether the merged log is gzip. A chosen name decides: one ending in ".gz" (in either
// case) is gzip, any other plain; standard output is plain; the default name beside the
// first input is "merged.gz". `asked_by` names who asked for `asked` explicitly (a switch or
// a configuration line; empty when nobody did): that choice wins where the name does not
// decide, and a choice the chosen name contradicts is refused, with a message naming both
// (nothing: the run must stop).
std::optional<bool> CompressionFor(const char* path, bool asked, const std::string& asked_by);

// False, with the reason said, when the merged log would replace `input_name`: the same
// file (device and inode) through any path or link. Only a merged log that already exists
// can be an input, so a first run costs no lookup.
bool KeepsInput(const Destination& destination, const char* input_name);

// ---- The same-file guard -------------------------------------------------------------------
// True when `input_name` is the merged log, however spelled (the same device and inode),
// or a partial file of it (its name beside the merged log, as an interrupted run leaves
// one). Reading the one would destroy it while it is rewritten, and the other would merge
// earlier output twice, so such an input is left out: says "Left out '<name>': it is the
// merged output file."
bool IsDestination(const Destination& destination, const char* input_name);
// The same for an input already open, from what fstat told of it, against the merged log as
// it stood when the destination was chosen: no path lookup for the identity, so thousands of
// inputs cost nothing more than their opening.
bool IsDestination(const Destination& destination, const char* input_name, const FileFacts& input);

// ---- Writing and publishing ----------------------------------------------------------------
// Creates the partial file (new, exclusively, never through a link; mode from the umask, or
// the mode and group of the merged log it will replace) and the sink that writes it, or the
// sink of standard output. An ending signal removes the partial file until Publish. Null
// when it cannot be created or the compressor cannot start, and then nothing is left
// behind; nothing is said (the caller reports it with SayOpenFailure), except why a device,
// FIFO or socket could not be opened. A chosen device, FIFO or socket is opened for writing
// in place (a FIFO waits for its reader).
std::unique_ptr<OutputSink> OpenDestination(Destination& destination);

// Says "Error opening output file '<path>': <reason>." after OpenDestination failed.
void SayOpenFailure(const Destination& destination);

// With `complete`, syncs the partial file to disk, renames it over the final name and
// syncs the directory; gives true. A failed sync says "Write error on output file!", a
// failed rename "Error renaming output file."; either removes the partial file and gives
// false. Without `complete`, removes the partial file and gives false. For standard output,
// gives `complete`; for a node written in place, closes it and gives `complete`.
bool Publish(Destination& destination, bool complete);

// Nothing is published (no input could be read): removes a partial file if one was made
// and says "No input could be read; nothing was written", adding "and '<path>' is left as
// it was." when there is an earlier merged log.
void PublishNothing(Destination& destination);

// Says where the merged log went, once it is published: "Wrote 27,257 entries (NCSA
// combined, gzip) to '/srv/logs/merged.gz'.", the path made absolute, followed by the
// counts that explain a difference from the lines read.
struct WrittenCounts {
  int64_t entries = 0;  // entries written
  int64_t read = 0;     // lines read over every input
  int64_t headers = 0;  // lines that were no entry (header and comment lines)
  int64_t corrupt = 0;  // lines no format matched
};
void SayWritten(const Destination& destination, const char* dialect, const WrittenCounts& counts);
