#pragma once
// Input streams: one log file (plain, gzip, bzip2, zip, xz or zstd, recognised by its first
// bytes) read through one sliding window of decoded text that is always NUL-terminated. Each
// container has a reader of its own (byte_source, gzip_reader, bzip2_reader, zip_reader,
// xz_reader, zstd_reader); one table in input.cpp lists them, and the containers that are
// recognised but not read (7z, lz4, tar, ...).

#include <cstdint>

#include "input/byte_source.h"
#include "input/memory_pool.h"
#include "input/read_ahead.h"
#include "platform/descriptor.h"

// ---- Window sizes ------------------------------------------------------------------------
inline constexpr int32_t IN_CHUNK = 32768;     // bytes asked of the decoder per refill
inline constexpr int32_t IN_MIN_AHEAD = 8192;  // refill as soon as fewer unread bytes remain
// At most IN_MIN_AHEAD - 1 carried-over bytes, one chunk and the terminating NUL (one spare).
inline constexpr int32_t IN_BUFF_SIZE = IN_MIN_AHEAD + IN_CHUNK + 2;
// The longest line delivered, in bytes before its line end. A longer line (a client's forged agent,
// say) is passed over whole, to its line end, so no part of it is ever read as a line of its own.
inline constexpr int32_t IN_LINE_MAX = 1 << 20;
// The window grows up to this to hold a long line whole; INClose releases it.
// A plain regular file smaller than a window gets a window of its own size instead (and the
// full one only if it grows while it is read), so thousands of small inputs stay small.
inline constexpr int32_t IN_MAX_BUFF_SIZE = IN_LINE_MAX + IN_CHUNK + 2;
// A gzip file that arrives whole in the first read (one smaller than a window) and decodes to
// at most this is decoded whole when it is opened, into a window of its decoded size, and
// holds no decoder from then on. Streamed, a gzip input holds a full window, its compressed
// input buffer and an ISA-L inflate state (about 87 KB) until its data ends, some 140 KB in
// all: below this bound the decoded file is the smaller. (With web logs compressing 8 to 15
// times, a file larger than a window would rarely decode to less than the bound.)
inline constexpr int32_t IN_GZIP_WHOLE_MAX = 128 * 1024;

// ---- Type codes ---------------------------------------------------------------------------
inline constexpr int32_t IN_PLAIN = 0;  // the file's bytes themselves
inline constexpr int32_t IN_GZIP = 1;   // gzip members, one after the other (zlib inflate)
inline constexpr int32_t IN_BZIP2 = 2;  // bzip2 streams, one after the other (libbz2)
inline constexpr int32_t IN_ZIP = 3;    // every member of a zip archive, in directory order
inline constexpr int32_t IN_XZ = 4;     // xz streams, one after the other (liblzma)
inline constexpr int32_t IN_ZSTD = 5;   // zstd frames, one after the other (libzstd)

// The container's name for a type code ("plain", "gzip", ...); "?" for another number.
const char* INTypeName(int32_t type);

// One open log file. Taken from the pool and never freed on its own; INClose closes its file.
// Invariant: buff[buff_pos + buff_cnt] is 0 after INAttach, INPeek and every INAdvance.
struct InputFile {
  FileDescriptor descriptor;  // the open file, owned by the input until INClose
  FileFacts facts;            // from the one fstat at opening: identity, size, regular or not
  SourceFile source;          // the file's stored bytes, read through `descriptor`
  void* reader;               // the container reader's state (for plain text, `source`)
  ReadAhead* ahead;           // the reader's decoding ahead on a worker thread; null when none
  MemoryPool* pool;           // where a larger window comes from
  char* buff;         // decoded bytes (first_buff, or a larger window); unread ones writable
  int32_t buff_size;  // bytes at buff
  int32_t type;       // IN_PLAIN .. IN_ZSTD: the row of the table of containers
  int32_t buff_cnt;   // unread bytes in buff
  int32_t buff_pos;   // offset of the first unread byte
  // A line that starts before this offset is known to be whole in the window: the last line
  // end found there is followed by another byte. 0 when unknown (the data moved).
  int32_t whole_before;
  int64_t lines_dropped;    // lines longer than IN_LINE_MAX passed over (the caller may reset)
  uint8_t at_eof;           // the reader reported the end or an error: no more reads
  uint8_t read_failed;      // the reader reported an error: the input ended early
  char* first_buff;         // the window from the pool until a long line needs more
  int32_t first_buff_size;  // its bytes: IN_BUFF_SIZE, or a small file's (decoded) size + 2
};

// ---- What a decoder holds ------------------------------------------------------------------
// Bytes at the start of a file that tell what its decoder holds.
inline constexpr int32_t IN_MEMORY_HEAD = 64;

// Bytes the decoder of a file that begins with `head` holds while the file is open (its
// window or dictionary, as the headers there say); 0 for plain text.
int64_t INDecoderMemory(const unsigned char* head, int32_t length);

// ---- Opening and closing -------------------------------------------------------------------
// Takes over an open file, with what one fstat of it told (FactsOf), detects its type and
// reads the first chunk. A file that cannot seek (a pipe, a FIFO, /dev/stdin) is detected
// the same way: the bytes read for detection reach its decoder. Null for a descriptor that
// holds no file; when it holds a container that is not read, `*not_read`, where given, names
// it ("7z", "tar", ...); when its container is read but this file cannot be (a zip archive
// cut short, one whose first member cannot be read, or one in a pipe), `*damaged`, where
// given, says why. Then the file is closed.
// Each is set to null otherwise.
InputFile* INAttach(FileDescriptor file, const FileFacts& facts, MemoryPool* pool,
                    const char** not_read = nullptr, const char** damaged = nullptr);
// The same, taking the facts itself.
InputFile* INAttach(FileDescriptor file, MemoryPool* pool, const char** not_read = nullptr,
                    const char** damaged = nullptr);

// Releases the container reader and closes the file.
void INClose(InputFile* in);

// Lets a compressed input's decoder run ahead of the merge on `crew` (read_ahead.h); the
// bytes delivered stay exactly the same. False for plain text, an input that is not a
// regular file (a pipe, a FIFO), an input at its end, or when the blocks cannot be had; the
// input then reads as before.
bool INReadAhead(InputFile* in, WorkCrew& crew);

// ---- Reading ------------------------------------------------------------------------------
// The first unread byte, or null at the end of the input. The unread data is writable and
// NUL-terminated; the line there is whole in it, with the byte after its line end. A line
// longer than IN_LINE_MAX is passed over first, counted in lines_dropped.
char* INPeek(InputFile* in);

// Releases `len` bytes (0 < len <= unread + 1; one more than is left is accepted for a
// last line without a line end). The bytes of the current line stay in place until then.
// A read error of the decoder prints "Read error on input!", sets read_failed and ends the
// input after the bytes decoded before it.
void INAdvance(InputFile* in, int32_t len);
