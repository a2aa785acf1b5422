#include "output/destination.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "base/messages.h"
#include "base/text.h"
#include "output/deflate_sink.h"
#include "output/writers.h"
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

// The merged log's path for messages: as the user chose it, or the default name as made.
std::string ShownPath(const Destination& destination) {
  if (destination.options.path != nullptr) return EscapedName(destination.options.path);
  return EscapedName(
      std::filesystem::path(destination.final_spec.Path()).lexically_normal().string());
}

// The first bytes of the file at `path`, decompressed when it is gzip; empty when it cannot
// be read. Only a regular file is opened, so nothing ever waits on a FIFO.
std::string FileStart(const char* path, size_t want) {
  RegularFileOpen outcome{};
  std::FILE* file = OpenRegularFile(path, INT64_MAX, outcome);
  if (file == nullptr) return "";
  std::string raw(4096, '\0');
  raw.resize(std::fread(raw.data(), 1, raw.size(), file));
  std::fclose(file);
  if (raw.size() < 2 || static_cast<unsigned char>(raw[0]) != 0x1f ||
      static_cast<unsigned char>(raw[1]) != 0x8b) {
    return raw.substr(0, want);
  }
  std::string text(want, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "";
  stream.next_in = reinterpret_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = reinterpret_cast<Bytef*>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  inflate(&stream, Z_SYNC_FLUSH);
  text.resize(text.size() - stream.avail_out);
  inflateEnd(&stream);
  return text;
}

// False when a file is already at the chosen path and does not start with the header's
// first line: a log the user meant to read ("-o access.log b.log"), not an earlier merge.
// An empty file, and a dialect without a header, cannot tell and are replaced as before.
bool MayReplace(const Destination& destination) {
  const std::string_view header = destination.options.header;
  if (destination.options.path == nullptr || header.empty()) return true;
  if (!destination.final_facts.known || !destination.final_facts.regular ||
      destination.final_facts.size == 0) {
    return true;
  }
  // An earlier merge in another dialect with a header line is a merged log too.
  const std::string_view headers[] = {header, W3C_HEADER, WEBSTAR_HEADER};
  const std::string start = FileStart(destination.final_spec.Path(), 4096);
  return std::any_of(std::begin(headers), std::end(headers), [&start](std::string_view h) {
    return start.starts_with(h.substr(0, h.find('\n')));
  });
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
  // Nor can a file in a directory that is not there: say so now, not after every input
  // was read.
  if (!destination.standard_output) {
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::path(destination.final_spec.Path()).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
      const bool exists = std::filesystem::exists(folder, error);
      SayFailure("Error opening output file '%s': %s.\n", ShownPath(destination).c_str(),
                 std::strerror(exists ? ENOTDIR : ENOENT));
      return false;
    }
  }
  if (!destination.standard_output && !MayReplace(destination)) {
    SayFailure(
        "Output file '%s' already exists and is no merged log (it does not start with the "
        "output format's header line); nothing was written: choose another output name, or "
        "remove the file first.\n",
        ShownPath(destination).c_str());
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
  destination.open_error = 0;
  if (destination.final_spec.WasCut()) {  // a cut name is some other file
    destination.open_error = ENAMETOOLONG;
    return nullptr;
  }
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
  const int create_error = errno;
  ReleaseEndingSignals();
  if (destination.partial_fd < 0) {
    destination.open_error = create_error;
    return nullptr;
  }
  // A merged log restricted to its owner or a group stays so while the new one is written.
  if (!registered || !TakeModeAndGroup(destination.partial_fd, final_path)) {
    destination.open_error = errno;
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

void SayOpenFailure(const Destination& destination) {
  if (destination.standard_output) {
    SayFailure("Error opening standard output for the merged log.\n");
    return;
  }
  SayFailure("Error opening output file '%s': %s.\n", ShownPath(destination).c_str(),
             destination.open_error != 0 ? std::strerror(destination.open_error)
                                         : "the compressor could not start");
}

namespace {

const char* Kind(bool compress) {
  return compress ? "gzip" : "plain text";
}

}  // namespace

std::optional<bool> CompressionFor(const char* path, bool asked, const std::string& asked_by) {
  const bool chosen = asked_by.empty() ? true : asked;
  if (path == nullptr) return chosen;
  if (std::strcmp(path, STANDARD_OUTPUT_PATH) == 0) return !asked_by.empty() && asked;
  const bool named_gzip = EndsWithNoCase(path, ".gz");
  if (!asked_by.empty() && asked != named_gzip) {
    SayFailure(
        "Output file '%s': its name says %s, but %s asks for %s; change one of them (a name "
        "ending in .gz is gzip, any other plain text).\n",
        EscapedName(path).c_str(), Kind(named_gzip), asked_by.c_str(), Kind(asked));
    return std::nullopt;
  }
  return named_gzip;
}

bool KeepsInput(const Destination& destination, const char* input_name) {
  if (destination.standard_output || !destination.final_facts.known) return true;
  FileSpec spec;
  spec.Set(input_name);
  if (!IsSameFile(FactsOfPath(spec.Path()), destination.final_facts)) return true;
  SayFailure(
      "Output file '%s' is the input '%s' (the same file); nothing was written: choose "
      "another output with -Output.\n",
      ShownPath(destination).c_str(), EscapedName(input_name).c_str());
  return false;
}

void PublishNothing(Destination& destination) {
  DiscardPartial(destination);
  if (destination.standard_output) {
    Say("No input could be read; nothing was written to standard output.\n");
    return;
  }
  if (!destination.final_facts.known) {
    Say("No input could be read; nothing was written.\n");
    return;
  }
  Say("No input could be read; nothing was written and '%s' is left as it was.\n",
      ShownPath(destination).c_str());
}

void SayWritten(const Destination& destination, const char* dialect, const WrittenCounts& counts) {
  std::string where = "standard output";
  if (!destination.standard_output) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(destination.final_spec.Path(), error);
    if (error) path = destination.final_spec.Path();
    where = "'" + EscapedName(path.lexically_normal().string()) + "'";
  }
  std::string line = "Wrote " + Grouped(counts.entries) +
                     (counts.entries == 1 ? " entry (" : " entries (") + dialect + ", " +
                     Kind(destination.options.compress) + ") to " + where;
  // What the lines read became, when not all of them became entries.
  const int64_t left_out = counts.read - counts.entries - counts.headers - counts.corrupt;
  std::string parts;
  const auto add = [&parts](int64_t count, const char* what) {
    if (count <= 0) return;
    parts += (parts.empty() ? "" : ", ") + Grouped(count) + " " + what;
  };
  add(left_out, "filtered or outside the time window");
  add(counts.headers, counts.headers == 1 ? "header line" : "header lines");
  add(counts.corrupt, "corrupt");
  if (!parts.empty()) line += "; of " + Grouped(counts.read) + " lines read: " + parts;
  SayInfo("%s.\n", line.c_str());
}
