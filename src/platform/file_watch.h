#pragma once
// Waiting for logs to grow: directory watches (inotify) that report files created, written,
// moved or removed, readiness of pipes, and the ending signals turned into a wake-up rather
// than an exit, so that a follower can finish its output at a whole line. Where inotify is
// unavailable, or its limits are reached, the caller polls on a timer instead.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/descriptor.h"

// ---- Ending signals as wake-ups ------------------------------------------------------------
// From now on SIGINT, SIGTERM and SIGHUP (those not ignored, as under nohup) are recorded
// and wake ChangeWatch::Wait instead of ending the process; a second one ends the process at
// once, as the default action would. Once per process.
void CatchEndingSignals();
// The ending signal received, or 0.
int EndingSignalReceived();

// ---- Reading without waiting -------------------------------------------------------------
// Opens `path` for reading without ever blocking: a FIFO with no writer yet opens at once
// (its data is read once Wait reports it readable). errno says why when nothing is held.
FileDescriptor OpenForFollowing(const char* path);

enum class ReadNow {
  Data,     // `got` bytes were read
  Nothing,  // nothing to read right now (a pipe with no data, or a file at its current end)
  End,      // a pipe, FIFO or terminal whose writers have all gone: no more data ever
  Failed,   // a read error; errno says why
};
// One read of up to `want` bytes. `regular` says how a read of 0 bytes is meant: at the
// current end of a regular file more may come later, at the end of a pipe nothing will.
ReadNow ReadAvailable(int fd, bool regular, char* out, size_t want, size_t& got);

// ---- Watching directories --------------------------------------------------------------------
// A file named `name` in the directory numbered `directory` changed; an empty name means
// anything may have changed (events were lost), so every file is worth a look.
struct DirectoryChange {
  int directory;
  std::string name;
};

// A descriptor to wait on, and whether Wait found it readable or ended.
struct StreamWait {
  int fd;
  bool ready = false;
};

class ChangeWatch {
 public:
  ChangeWatch();  // starts inotify when the system offers it
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Watches directory `path` ("" is the working directory). Its number for DirectoryChange,
  // or -1 when it cannot be watched (no inotify, the watch limit reached, no such
  // directory): the caller then looks at its files on a timer.
  int WatchDirectory(const std::string& path);

  // Waits until a watched directory reports a change (appended to `changes`), one of
  // `streams` is readable or has ended (its `ready` set), an ending signal arrives, or
  // `timeout_ms` passes (-1: no limit). Costs nothing while nothing happens.
  void Wait(std::span<StreamWait> streams, int timeout_ms, std::vector<DirectoryChange>& changes);

 private:
  void TakeEvents(std::vector<DirectoryChange>& changes);

  int inotify_fd_ = -1;
  std::vector<int> watches_;      // inotify watch descriptors, by directory number
  std::vector<char> event_room_;  // where inotify events are read
};
