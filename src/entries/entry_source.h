#pragma once
// The source of an entry: which input it came from, named by its file, by the file's name
// without rotation suffixes and extensions, or by a host taken from its path. Users merging
// the logs of load-balanced servers tell the servers apart by it afterwards.

#include <cstdint>
#include <string>
#include <string_view>

#include "entries/log_entry.h"

// NONE records no source.
enum class SourceKind : uint8_t { NONE = 0, FILE = 1, NAME = 2, HOST = 3 };

// The file's name, the last part of `path`.
std::string_view FileNameOf(std::string_view path);

// A log's name without what rotation and compression add: compression extensions, numbered
// and dated rotation suffixes and ".log" are taken off the end ("web1.access.log.2.gz" ->
// "web1.access", "access.log-20240301.gz" -> "access"). A name that would become empty is
// kept whole.
std::string_view NameWithoutRotation(std::string_view file_name);

// Where the source goes in an entry: always into `source` (JSON writes it), and into the
// virtual host when the entry has none, or always with `into_vhost_always`; `into_vhost`
// false leaves the virtual host alone.
struct SourcePlacement {
  bool into_vhost = true;
  bool into_vhost_always = false;
};

// Gives `entry` the NUL-terminated `source` as `placement` says; empty: nothing changes.
void ApplySource(LogEntry& entry, const std::string& source, const SourcePlacement& placement);
