#pragma once
// Spill files: formatted entries set aside between the passes of a merge with more inputs
// than may be open at once. A spill holds records in the order they were appended, each
// [8-byte time key][4-byte length][the line's bytes], in this machine's byte order (only
// this process reads them back). The file has no name from the moment it is created, so it
// is gone whatever ends the run; only its descriptor keeps it until the reader closes it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "entries/log_entry.h"
#include "platform/descriptor.h"

// ---- Sizes ---------------------------------------------------------------------------------
inline constexpr size_t kSpillWriteBuffer = size_t{1} << 20;  // bytes gathered per write
inline constexpr size_t kSpillReadBuffer = size_t{64} << 10;  // bytes a reader holds
inline constexpr size_t kSpillRecordHeader = 12;              // key and length
inline constexpr size_t kSpillLineMost = 0x7fffffff;          // the longest line a record holds

// ---- Writing -------------------------------------------------------------------------------
// Appends records to a new spill file. Every failure is kept: the first one makes Append
// and Finish false from then on, and Error() says what failed and why.
class SpillWriter {
 public:
  SpillWriter() = default;
  // Writes to `file` (a descriptor made elsewhere, open for reading and writing); the
  // writer owns it from now on.
  explicit SpillWriter(FileDescriptor file);
  SpillWriter(SpillWriter&&) noexcept = default;
  SpillWriter& operator=(SpillWriter&&) noexcept = default;

  // Creates the spill beside the merged log at `output_path`, as
  // ".<its name>.<random>.pass" in its directory (the working directory when the path has
  // none); when that directory refuses it (read-only, no rights, full), in the system's
  // temporary directory ($TMPDIR, else /tmp) under the same scheme. An empty path or "-"
  // (standard output) goes to the temporary directory alone. False, with Error() naming
  // each directory tried and why it refused, when no file could be made.
  bool Create(std::string_view output_path);

  // Appends one record. Lines up to kSpillLineMost bytes; a longer one is refused, as is a
  // record after Finish. False when it could not be written (see Error()); the spill is
  // then unusable.
  bool Append(TimeKey key, std::string_view line);

  // Writes out what is gathered, gives up the write buffer and moves to the start of the
  // file for reading. False when a write or the seek failed.
  bool Finish();

  // The file, once finished, for a SpillReader; the writer holds none afterwards.
  FileDescriptor TakeFile() { return std::move(file_); }

  // The directory the file was made in ("" for a file handed to the constructor).
  const std::string& Directory() const { return directory_; }
  // Records and bytes (headers included) appended so far.
  uint64_t Records() const { return records_; }
  uint64_t Bytes() const { return bytes_; }
  // Empty until something failed; then what failed and the system's reason, for a message.
  const std::string& Error() const { return error_; }

 private:
  bool Flush();
  bool Write(const char* bytes, size_t size);
  bool Fail(std::string what);

  FileDescriptor file_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  uint64_t records_ = 0;
  uint64_t bytes_ = 0;
  bool finished_ = false;
  std::string directory_;
  std::string error_;
};

// ---- Reading -------------------------------------------------------------------------------
// Reads a finished spill back, record by record, through a buffer of kSpillReadBuffer bytes
// that grows only for a longer record and shrinks back after it: hundreds of readers may be
// open at once. Closes the file when destroyed.
class SpillReader {
 public:
  explicit SpillReader(FileDescriptor file);
  SpillReader(SpillReader&&) noexcept = default;
  SpillReader& operator=(SpillReader&&) noexcept = default;

  // The next record: true with its key and line, whose bytes stay valid until the next
  // call. False at the end of the spill, and on a failure: a read error, or a file that
  // ends inside a record (shorter than its records say). Failed() tells the two apart.
  bool Next(TimeKey& key, std::string_view& line);

  bool Failed() const { return !error_.empty(); }
  // Empty unless Failed(); then what went wrong, for a message.
  const std::string& Error() const { return error_; }

 private:
  // Makes `wanted` unread bytes available, reading as needed; false when the file ends (or
  // fails) first, leaving `Available()` bytes.
  bool Fill(size_t wanted);
  size_t Available() const { return end_ - next_; }

  FileDescriptor file_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t next_ = 0;  // the first unread byte
  size_t end_ = 0;   // one past the last byte read
  std::string error_;
};
