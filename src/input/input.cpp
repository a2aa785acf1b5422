#include "input/input.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "base/check.h"
#include "base/messages.h"
#include "input/byte_source.h"
#include "input/bzip2_reader.h"
#include "input/gzip_reader.h"
#include "input/zip_reader.h"

namespace {

// ---- The table of containers -----------------------------------------------------------------

constexpr int32_t kMagicBytes = 16;  // bytes looked at; a shorter file is plain
constexpr int32_t kNoDigit = -1;

// A container's leading bytes; the byte at `digit_at` must be an ASCII digit (the pattern
// holds 0 there). Length 0: no magic, the container is never detected.
struct Magic {
  int32_t length;
  unsigned char bytes[10];
  int32_t digit_at;
};

// One container. Its decoder takes its working storage through an allocator made from the
// merge's pool (memory_pool.h) when it is opened.
struct Container {
  int32_t type;  // the row's own index: InputFile::type
  std::string_view name;
  Magic magic;
  void* (*open)(std::FILE* file, MemoryPool* pool);  // null: the file holds no such container
  DecodeResult (*read)(void* reader, char* out, int32_t want);
  void (*close)(void* reader);  // releases the reader and closes the stream
};

void* OpenGzip(std::FILE* file, MemoryPool* pool) {
  return GzipOpen(file, pool, MPGzipAllocator(pool));
}

void* OpenBzip2(std::FILE* file, MemoryPool* pool) {
  return Bzip2Open(file, pool, MPBzip2Allocator(pool));
}

void* OpenZip(std::FILE* file, MemoryPool* pool) {
  return ZipOpen(file, pool, MPZipAllocator(pool));
}

// Detection tries the rows in this order; the first whose magic matches decides. A match
// whose reader cannot start (a zip that is no archive, or whose first member cannot be
// opened) is read as plain text.
constexpr Container kContainers[] = {
    // plain text: whatever no other row claims
    {IN_PLAIN, "plain", {0, {}, kNoDigit}, PlainOpen, PlainRead, PlainClose},
    // gzip: ID1 ID2 and the deflate method
    {IN_GZIP, "gzip", {3, {0x1F, 0x8B, 0x08}, kNoDigit}, OpenGzip, GzipRead, GzipClose},
    // bzip2: "BZh", the block-size digit, then the magic of the first block "1AY&SY"
    {IN_BZIP2,
     "bzip2",
     {10, {'B', 'Z', 'h', 0, 0x31, 0x41, 0x59, 0x26, 0x53, 0x59}, 3},
     OpenBzip2,
     Bzip2Read,
     Bzip2Close},
    // zip: a local file header
    {IN_ZIP, "zip", {4, {'P', 'K', 0x03, 0x04}, kNoDigit}, OpenZip, ZipRead, ZipClose},
};

constexpr bool RowsAreIndexedByType() {
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(kContainers)); ++i) {
    if (kContainers[i].type != i) return false;
  }
  return true;
}
static_assert(RowsAreIndexedByType(), "each container's row sits at its type code");

// The row of `type`; null for a value no row has.
const Container* ContainerOf(int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(std::size(kContainers))) return nullptr;
  return &kContainers[type];
}

// ---- Type detection --------------------------------------------------------------------------

bool Matches(const Magic& m, const unsigned char* head) {
  if (m.length == 0) return false;
  for (int32_t i = 0; i < m.length; ++i) {
    const bool ok = i == m.digit_at ? head[i] >= '0' && head[i] <= '9' : head[i] == m.bytes[i];
    if (!ok) return false;
  }
  return true;
}

const Container& DetectContainer(const unsigned char* head, int32_t got) {
  if (got >= kMagicBytes) {
    for (const Container& c : kContainers) {
      if (Matches(c.magic, head)) return c;
    }
  }
  return kContainers[IN_PLAIN];
}

// Notes the position, reads the first bytes and goes back. A stream that cannot go back
// (a pipe) keeps what was read as the start of its plain data.
void Detect(InputFile* in, MemoryPool* pool) {
  unsigned char head[kMagicBytes];
  const long start = std::ftell(in->file);
  const int32_t got = static_cast<int32_t>(std::fread(head, 1, kMagicBytes, in->file));
  std::clearerr(in->file);
  if (start < 0 || std::fseek(in->file, start, SEEK_SET) != 0) {
    std::memcpy(in->buff, head, static_cast<size_t>(got));
    in->buff_cnt = got;
    return;
  }
  const Container& container = DetectContainer(head, got);
  if (container.type == IN_PLAIN) return;
  void* reader = container.open(in->file, pool);
  if (reader != nullptr) {
    in->type = container.type;
    in->reader = reader;
    return;
  }
  // Read as plain from the first byte; the failed reader may have moved the stream.
  std::clearerr(in->file);
  std::fseek(in->file, start, SEEK_SET);
}

// ---- Refill ----------------------------------------------------------------------------------

void INFill(InputFile* in, int32_t consumed) {
  in->buff_pos += consumed;
  in->buff_cnt -= consumed;
  if (in->buff_cnt >= IN_MIN_AHEAD || in->at_eof) {
    in->buff[in->buff_pos + in->buff_cnt] = 0;
    return;
  }
  if (in->buff_cnt > 0)
    std::memmove(in->buff, in->buff + in->buff_pos, static_cast<size_t>(in->buff_cnt));
  in->buff_pos = 0;
  DecodeResult r{0, false};
  if (const Container* container = ContainerOf(in->type)) {
    r = container->read(in->reader, in->buff + in->buff_cnt, IN_CHUNK);
  } else {
    Say("Invalid file type in fill input buffer (%d)!\n", in->type);
  }
  in->buff_cnt += r.count;
  if (r.failed) {
    Say("Read error on input!\n");
    in->read_failed = 1;
  }
  if (r.failed || r.count == 0) in->at_eof = 1;
  in->buff[in->buff_cnt] = 0;
}

}  // namespace

// ---- Opening and closing ---------------------------------------------------------------------

InputFile* INAttach(std::FILE* file, MemoryPool* pool) {
  if (file == nullptr) return nullptr;
  auto* in = static_cast<InputFile*>(MPAllocAligned(pool, sizeof(InputFile)));
  in->file = file;
  in->reader = file;
  in->type = IN_PLAIN;
  in->buff_cnt = 0;
  in->buff_pos = 0;
  in->at_eof = 0;
  in->read_failed = 0;
  Detect(in, pool);
  INFill(in, 0);
  return in;
}

void INClose(InputFile* in) {
  if (const Container* container = ContainerOf(in->type)) {
    container->close(in->reader);
  } else {
    Say("Invalid file type in INClose!\n");
  }
}

// ---- Reading -------------------------------------------------------------------------------

char* INPeek(InputFile* in) {
  return in->buff_cnt > 0 ? in->buff + in->buff_pos : nullptr;
}

void INAdvance(InputFile* in, int32_t len) {
  // The report quotes the condition as written.
  // clang-format off
  STITCHER_CHECK("input", len>0 && len<=in->buff_cnt+1);
  // clang-format on
  INFill(in, len > in->buff_cnt ? in->buff_cnt : len);
}
