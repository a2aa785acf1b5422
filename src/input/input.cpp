#include "input/input.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>
#include <utility>

#include "base/check.h"
#include "base/messages.h"
#include "input/byte_source.h"
#include "input/bzip2_reader.h"
#include "input/gzip_reader.h"
#include "input/xz_reader.h"
#include "input/zip_reader.h"
#include "input/zstd_reader.h"

namespace {

// ---- The table of containers -----------------------------------------------------------------

constexpr int32_t kMagicBytes =
    SOURCE_HEAD;  // bytes a magic is looked for in; a shorter file is plain
constexpr int32_t kNoDigit = -1;
constexpr int32_t kNotRead = -1;  // type of a container that is recognised but not read

// A container's mark: `length` bytes at `offset`; the byte at `digit_at` must be an ASCII
// digit (the pattern holds 0 there). Length 0: no mark, the container is never detected.
struct Magic {
  int32_t offset;
  int32_t length;
  unsigned char bytes[10];
  int32_t digit_at;
};

// A container reader's entry points (described in byte_source.h); all null for a container
// that is recognised but not read.
struct ReaderEntry {
  void* (*open)(SourceFile* file, MemoryPool* pool);  // null: the file holds no such container
  DecodeResult (*read)(void* reader, char* out, int32_t want);
  void (*close)(void* reader);  // releases the reader; the input closes the file
};

// One container. A decoder takes its working storage from the merge's pool (memory_pool.h)
// where it can.
struct Container {
  int32_t type;  // the row's own index (InputFile::type), or kNotRead
  const char* name;
  Magic magic;
  // A further check of the bytes at the start, when the mark alone could occur in text.
  bool (*confirm)(const unsigned char* head, int32_t length);
  ReaderEntry reader;
  // Bytes the decoder holds while the file is open, from its first bytes (null: none).
  int64_t (*memory)(const unsigned char* head, int32_t length);
};

void* OpenBzip2(SourceFile* file, MemoryPool* pool) {
  return Bzip2Open(file, pool, MPBzip2Allocator(pool));
}

constexpr ReaderEntry kPlainReader{PlainOpen, PlainRead, PlainClose};
constexpr ReaderEntry kGzipReader{GzipOpen, GzipRead, GzipClose};
constexpr ReaderEntry kBzip2Reader{OpenBzip2, Bzip2Read, Bzip2Close};
constexpr ReaderEntry kZipReader{ZipOpen, ZipRead, ZipClose};
constexpr ReaderEntry kXzReader{XzOpen, XzRead, XzClose};
constexpr ReaderEntry kZstdReader{ZstdOpen, ZstdRead, ZstdClose};
constexpr ReaderEntry kNoReader{};

// What each decoder holds. A stream whose first bytes do not say is taken to need what the
// tool's default level writes (xz -6: an 8 MiB dictionary; zstd -3: up to an 8 MiB window).
constexpr int64_t kDefaultWindow = int64_t{8} << 20;
int64_t InflateMemory(const unsigned char*, int32_t) {
  return int64_t{48} << 10;  // the 32 KiB window and the inflate state
}
int64_t Bzip2Memory(const unsigned char* head, int32_t length) {
  // 100 KB and four bytes per byte of the block, whose size is the digit after "BZh".
  const int64_t digit = length > 3 && head[3] >= '1' && head[3] <= '9' ? head[3] - '0' : 9;
  return 100000 + 4 * digit * 100000;
}
int64_t XzMemory(const unsigned char* head, int32_t length) {
  const uint64_t dictionary = XzFirstDictionary(head, static_cast<size_t>(length));
  return static_cast<int64_t>(dictionary != 0 ? dictionary : kDefaultWindow) + (int64_t{64} << 10);
}
int64_t ZstdMemory(const unsigned char* head, int32_t length) {
  const uint64_t window = ZstdFrameWindow(head, length);
  return static_cast<int64_t>(window != 0 ? window : kDefaultWindow) + (int64_t{128} << 10);
}

// A tar header block: 512 bytes whose checksum field (octal, at 148) is the sum of the
// block's bytes, counting the field itself as blanks.
bool IsTarHeader(const unsigned char* head, int32_t length) {
  constexpr int32_t kBlock = 512;
  constexpr int32_t kSumAt = 148;
  constexpr int32_t kSumLength = 8;
  if (length < kBlock) return false;
  int32_t at = kSumAt;
  while (at < kSumAt + kSumLength && head[at] == ' ') ++at;
  uint32_t stated = 0;
  int32_t digits = 0;
  for (; at < kSumAt + kSumLength && head[at] >= '0' && head[at] <= '7'; ++at, ++digits)
    stated = stated * 8 + (head[at] - '0');
  if (digits == 0) return false;
  uint32_t sum = 0;
  for (int32_t i = 0; i < kBlock; ++i)
    sum += i >= kSumAt && i < kSumAt + kSumLength ? ' ' : head[i];
  return sum == stated;
}

// Detection tries the readable rows in this order on the file's first bytes; the first whose
// mark matches decides. A match whose reader cannot start is read as plain text, except a
// zip archive, which is reported as not readable. The rows that are not read are tried
// on the first decoded bytes, so they are found inside a compressed file too (a .tar.gz).
// clang-format off
constexpr Container kContainers[] = {
    // plain text: whatever no other row claims
    {IN_PLAIN, "plain", {0, 0, {}, kNoDigit}, nullptr, kPlainReader, nullptr},
    // gzip: ID1 ID2 and the deflate method
    {IN_GZIP, "gzip", {0, 3, {0x1F, 0x8B, 0x08}, kNoDigit}, nullptr, kGzipReader, InflateMemory},
    // bzip2: "BZh", the block-size digit, then the magic of the first block "1AY&SY"
    {IN_BZIP2, "bzip2", {0, 10, {'B', 'Z', 'h', 0, '1', 'A', 'Y', '&', 'S', 'Y'}, 3}, nullptr,
     kBzip2Reader, Bzip2Memory},
    // zip: a local file header
    {IN_ZIP, "zip", {0, 4, {'P', 'K', 0x03, 0x04}, kNoDigit}, nullptr, kZipReader, InflateMemory},
    // xz: the stream header magic FD "7zXZ" 00
    {IN_XZ, "xz", {0, 6, {0xFD, '7', 'z', 'X', 'Z', 0x00}, kNoDigit}, nullptr, kXzReader,
     XzMemory},
    // zstd: the frame magic 0xFD2FB528, little-endian
    {IN_ZSTD, "zstd", {0, 4, {0x28, 0xB5, 0x2F, 0xFD}, kNoDigit}, nullptr, kZstdReader,
     ZstdMemory},
    // 7z: "7z" BC AF 27 1C
    {kNotRead, "7z", {0, 6, {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C}, kNoDigit}, nullptr, kNoReader,
     nullptr},
    // lz4: the frame magic 0x184D2204, little-endian
    {kNotRead, "lz4", {0, 4, {0x04, 0x22, 0x4D, 0x18}, kNoDigit}, nullptr, kNoReader, nullptr},
    // tar: "ustar" in the first header block (POSIX and GNU), whose checksum must hold
    {kNotRead, "tar", {257, 5, {'u', 's', 't', 'a', 'r'}, kNoDigit}, IsTarHeader, kNoReader,
     nullptr},
    // rar: "Rar!" 1A 07
    {kNotRead, "rar", {0, 6, {'R', 'a', 'r', '!', 0x1A, 0x07}, kNoDigit}, nullptr, kNoReader,
     nullptr},
    // lzip: "LZIP" and version 1
    {kNotRead, "lzip", {0, 5, {'L', 'Z', 'I', 'P', 0x01}, kNoDigit}, nullptr, kNoReader, nullptr},
    // Unix compress (.Z): 1F 9D
    {kNotRead, "compress (.Z)", {0, 2, {0x1F, 0x9D}, kNoDigit}, nullptr, kNoReader, nullptr},
};
// clang-format on

constexpr int32_t kRows = static_cast<int32_t>(std::size(kContainers));

// The readable rows come first, each at its type code; the rows not read follow, with no
// entry points (kNoReader), and are never looked up by type.
constexpr int32_t CountReadable() {
  int32_t count = 0;
  while (count < kRows && kContainers[count].type != kNotRead) ++count;
  return count;
}
constexpr int32_t kReadable = CountReadable();

constexpr bool RowsAreConsistent() {
  for (int32_t i = 0; i < kRows; ++i) {
    if (kContainers[i].type != (i < kReadable ? i : kNotRead)) return false;
  }
  return true;
}
static_assert(RowsAreConsistent(),
              "readable containers first, each at its type code, then those not read");

// The row of `type`; null for a value no readable row has.
const Container* ContainerOf(int32_t type) {
  if (type < 0 || type >= kReadable) return nullptr;
  return &kContainers[type];
}

}  // namespace

const char* INTypeName(int32_t type) {
  return type >= 0 && type < kReadable ? kContainers[type].name : "?";
}

namespace {

// ---- Type detection --------------------------------------------------------------------------

// Whether `c` marks the `length` bytes at `head` (a short input is never marked).
bool Marks(const Container& c, const unsigned char* head, int32_t length) {
  const Magic& m = c.magic;
  if (m.length == 0 || length < kMagicBytes || m.offset + m.length > length) return false;
  for (int32_t i = 0; i < m.length; ++i) {
    const unsigned char b = head[m.offset + i];
    const bool ok = i == m.digit_at ? b >= '0' && b <= '9' : b == m.bytes[i];
    if (!ok) return false;
  }
  return c.confirm == nullptr || c.confirm(head, length);
}

const Container& DetectContainer(const unsigned char* head, int32_t got) {
  for (int32_t i = 0; i < kReadable; ++i) {
    if (Marks(kContainers[i], head, got)) return kContainers[i];
  }
  return kContainers[IN_PLAIN];
}

// The container not read whose mark starts the decoded data, if any.
const Container* ContainerNotRead(const InputFile* in) {
  const auto* head = reinterpret_cast<const unsigned char*>(in->buff + in->buff_pos);
  for (int32_t i = kReadable; i < kRows; ++i) {
    if (Marks(kContainers[i], head, in->buff_cnt)) return &kContainers[i];
  }
  return nullptr;
}

// ---- Small gzip files -------------------------------------------------------------------------

// Decodes a gzip file held whole in `space` (the first read, of up to `capacity` bytes, got
// all of it; `space` has one byte more) into a window of exactly its decoded size, with the
// NUL and one spare byte as a small plain file has: no decoder is held from here on (why that
// saves memory: IN_GZIP_WHOLE_MAX). Bytes decoded before a failure are in the window, and the
// failure is reported as a read would report it. False when the file is not all there,
// decodes to more than IN_GZIP_WHOLE_MAX bytes, or memory for doing so is short: it is then
// streamed from its first byte, nothing having been taken from it.
bool DecodeGzipWhole(InputFile* in, MemoryPool* pool, char* space, int32_t capacity) {
  SourceFile* file = &in->source;
  if (space == nullptr || file->head_count != file->size || file->head_count >= capacity) {
    return false;
  }
  // A file that ends with a member states that member's decoded size (modulo 2^32) in its
  // last four bytes, and the whole decodes to at least that: one too large to fit is not
  // tried. After zero padding or garbage the figure means nothing: a file is still tried when
  // it is 0 or more than its bytes could decode to (deflate gives at most 1032 bytes a byte).
  constexpr int64_t kMostPerByte = 1032;
  const unsigned char* tail = file->head + file->head_count - 4;
  const uint32_t last_size = tail[0] | tail[1] << 8 | tail[2] << 16 | uint32_t{tail[3]} << 24;
  if (last_size > IN_GZIP_WHOLE_MAX && last_size <= file->head_count * kMostPerByte) return false;
  constexpr int32_t kRoom = IN_GZIP_WHOLE_MAX + 1;  // one more byte tells a larger file
  auto* decoded = static_cast<char*>(std::malloc(kRoom));
  if (decoded == nullptr) return false;
  DecodeResult result{0, false};
  void* reader = GzipDecodeWhole(file->head, file->head_count, decoded, kRoom, pool, &result);
  if (reader != nullptr) {
    // The compressed bytes are no longer needed: a file that decodes to no more than itself
    // (an empty member, stored data) keeps its window where they were.
    const int32_t size = result.count + 2;
    char* window = size <= capacity + 1 ? space : static_cast<char*>(MPAlloc(pool, size));
    std::memcpy(window, decoded, static_cast<size_t>(result.count));
    in->type = IN_GZIP;
    in->reader = reader;
    in->first_buff = window;
    in->first_buff_size = size;
    in->buff_cnt = result.count;
    file->head_at = file->head_count;  // every byte taken
    in->at_eof = 1;
    if (result.failed) {
      Say("Read error on input!\n");
      in->read_failed = 1;
    }
  }
  std::free(decoded);
  return reader != nullptr;
}

// Reads the first bytes (into `space`, of `capacity` bytes, where given), which the source
// hands out again, and starts the reader of the container they mark; a small gzip file is
// decoded whole into its window instead (DecodeGzipWhole). Returns why the file cannot be
// read although its container is (a damaged zip archive), or null.
}  // namespace

int64_t INDecoderMemory(const unsigned char* head, int32_t length) {
  const Container& container = DetectContainer(head, length);
  return container.memory == nullptr ? 0 : container.memory(head, length);
}

namespace {

const char* Detect(InputFile* in, MemoryPool* pool, char* space, int32_t capacity) {
  SourceFile* file = &in->source;
  const int32_t got = ReadHead(file, reinterpret_cast<unsigned char*>(space), capacity);
  const Container& container = DetectContainer(file->head, got);
  if (container.type == IN_PLAIN) return nullptr;
  if (container.type == IN_GZIP && DecodeGzipWhole(in, pool, space, capacity)) return nullptr;
  // A zip archive is read through its directory, at its end: a pipe cannot go there.
  if (container.type == IN_ZIP && SourceStart(file) < 0) {
    return "a zip archive cannot be read from a pipe";
  }
  void* reader = container.reader.open(file, pool);
  if (reader != nullptr) {
    in->type = container.type;
    in->reader = reader;
    return nullptr;
  }
  if (file->refusal[0] != '\0') return file->refusal;  // needs more memory than is allowed
  // A file that starts with a zip member's header is an archive, whatever follows: one that
  // cannot be read is reported, never merged as text. An archive cut short has lost its
  // directory, and with it where its members are.
  if (container.type == IN_ZIP) {
    if (!ZipHasDirectory(file)) return "the zip archive is damaged (no central directory)";
    return "the zip archive's first member cannot be read (encrypted, or neither stored nor "
           "deflated)";
  }
  // Read as plain from the first byte.
  if (!RewindSource(file)) return "it could not be read again from its start";
  return nullptr;
}

// ---- Refill ----------------------------------------------------------------------------------

// Moves the unread bytes into a window of `size` bytes from the heap, which the input owns
// until INClose. False when no memory is left for it.
bool Enlarge(InputFile* in, int32_t size) {
  auto* larger = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
  if (larger == nullptr) return false;
  std::memcpy(larger, in->buff + in->buff_pos, static_cast<size_t>(in->buff_cnt));
  larger[in->buff_cnt] = 0;
  if (in->buff != in->first_buff) std::free(in->buff);
  in->buff = larger;
  in->buff_size = size;
  in->buff_pos = 0;
  in->whole_before = 0;
  return true;
}

// Moves the unread bytes to the front and appends what the reader gives of one chunk, or
// as much as a small window has room for, and the NUL.
void ReadChunk(InputFile* in) {
  // A window sized to its file reads the last byte or so in place, behind the unread bytes.
  const bool in_place =
      in->buff_size < IN_BUFF_SIZE && in->buff_pos + in->buff_cnt + 2 <= in->buff_size;
  if (!in_place) {
    if (in->buff_cnt > 0 && in->buff_pos > 0)
      std::memmove(in->buff, in->buff + in->buff_pos, static_cast<size_t>(in->buff_cnt));
    in->buff_pos = 0;
  }
  in->whole_before = 0;
  // A full window reads a whole chunk; a small one what it has room for. A small one that is
  // full (its file was larger than it said) becomes a full one; without the memory for that,
  // the read fails.
  if (in->buff_pos + in->buff_cnt + 1 >= in->buff_size && !Enlarge(in, IN_BUFF_SIZE)) {
    in->buff[in->buff_pos + in->buff_cnt] = 0;
    Say("Read error on input!\n");
    in->read_failed = 1;
    in->at_eof = 1;
    return;
  }
  DecodeResult r{0, false};
  char* end = in->buff + in->buff_pos + in->buff_cnt;
  const int32_t want = std::min(IN_CHUNK, in->buff_size - 1 - in->buff_pos - in->buff_cnt);
  if (in->ahead != nullptr) {
    r = ReadAheadRead(in->ahead, end, want);
  } else if (const Container* container = ContainerOf(in->type)) {
    r = container->reader.read(in->reader, end, want);
  } else {
    Say("Invalid file type in fill input buffer (%d)!\n", in->type);
  }
  in->buff_cnt += r.count;
  if (r.failed) {
    Say("Read error on input!\n");
    in->read_failed = 1;
  }
  // Plain text from a regular file ends where its size says, when the read fell short there.
  const bool at_size = in->type == IN_PLAIN && r.count < want && SourceAtSize(&in->source);
  if (r.failed || r.count == 0 || at_size) in->at_eof = 1;
  in->buff[in->buff_pos + in->buff_cnt] = 0;
  // A window sized to the file, which has given more than its size: the file grew since it
  // was opened, so the rest is read through a full window.
  if (!in->at_eof && in->type == IN_PLAIN && in->buff_size < IN_BUFF_SIZE &&
      in->source.head_count + in->source.taken > in->source.size) {
    Enlarge(in, IN_BUFF_SIZE);
  }
}

void INFill(InputFile* in, int32_t consumed) {
  in->buff_pos += consumed;
  in->buff_cnt -= consumed;
  if (in->buff_cnt >= IN_MIN_AHEAD || in->at_eof) {
    in->buff[in->buff_pos + in->buff_cnt] = 0;
    return;
  }
  ReadChunk(in);
}

// Makes room for one more chunk behind the unread bytes, when they are one long line: a
// larger window, twice the size each time, which the input owns until INClose. False when
// no memory is left for it.
bool MakeRoom(InputFile* in) {
  if (in->buff_cnt + IN_CHUNK + 1 <= in->buff_size) return true;
  // A window sized to the file holds all of it; the read that finds its end needs a byte.
  if (in->buff_size < IN_BUFF_SIZE && in->buff_cnt + 2 <= in->buff_size) return true;
  const int32_t size = std::min(std::max(in->buff_size * 2, IN_BUFF_SIZE), IN_MAX_BUFF_SIZE);
  return Enlarge(in, size);
}

// Bytes of the text at `p` before its first CR, LF or NUL (the NUL behind the data included).
int32_t TextLength(const char* p) {
  return static_cast<int32_t>(std::strcspn(p, "\r\n"));
}

// Finds the last line end of the unread data that is followed by one more byte (at least
// the one at `first_end`, the end of the line at the front), so the lines before it are
// known to be whole until the data moves. One backward scan a window. A NUL in the data
// ends a line as CR and LF do (TextLength), so a run of NULs, as a crash leaves in a log,
// is not scanned again for every byte of it.
void NoteLastLineEnd(InputFile* in, int32_t first_end) {
  const char* data = in->buff + in->buff_pos;
  int32_t end = in->buff_cnt - 2;
  while (end > first_end && data[end] != '\n' && data[end] != '\r' && data[end] != '\0') --end;
  in->whole_before = in->buff_pos + end + 1;
}

// Passes over the line at the front, longer than IN_LINE_MAX, through its line end (CR LF
// and LF CR as one; a NUL in the data ends it too) or the end of the input.
void DropLongLine(InputFile* in) {
  ++in->lines_dropped;
  for (;;) {
    const char* p = in->buff + in->buff_pos;
    const int32_t text = TextLength(p);
    // A line end as the last byte read waits for the next one: it may be half of a pair.
    if (text + 1 < in->buff_cnt || (text < in->buff_cnt && in->at_eof)) {
      const char end = p[text];
      const bool pair =
          (end == '\r' && p[text + 1] == '\n') || (end == '\n' && p[text + 1] == '\r');
      INFill(in, text + (pair ? 2 : 1));
      return;
    }
    if (in->at_eof) {
      INFill(in, in->buff_cnt);
      return;
    }
    // Keep a trailing line-end byte; drop the rest.
    const int32_t keep = text < in->buff_cnt ? 1 : 0;
    in->buff_pos += in->buff_cnt - keep;
    in->buff_cnt = keep;
    ReadChunk(in);
  }
}

}  // namespace

// ---- Opening and closing ---------------------------------------------------------------------

InputFile* INAttach(FileDescriptor file, const FileFacts& facts, MemoryPool* pool,
                    const char** not_read, const char** damaged) {
  if (not_read != nullptr) *not_read = nullptr;
  if (damaged != nullptr) *damaged = nullptr;
  if (!file.IsOpen()) return nullptr;
  auto* in = new (MPAllocAligned(pool, sizeof(InputFile))) InputFile;
  in->descriptor = std::move(file);
  in->facts = facts;
  const bool sized = facts.known && facts.regular;
  InitSourceFile(&in->source, in->descriptor.Get(), sized ? facts.size : -1);
  in->reader = &in->source;
  in->ahead = nullptr;
  in->pool = pool;
  in->first_buff = nullptr;
  in->first_buff_size = 0;
  in->buff = nullptr;
  in->buff_size = 0;
  in->lines_dropped = 0;
  in->type = IN_PLAIN;
  in->buff_cnt = 0;
  in->buff_pos = 0;
  in->whole_before = 0;
  in->at_eof = 0;
  in->read_failed = 0;
  // A regular file smaller than a window is read whole at once into a window of its size,
  // with its NUL and one byte to find its end: plain text then stays where it is. Anything
  // decoded, or larger, or from a pipe, gets a full window.
  const bool small = sized && facts.size + 2 < IN_BUFF_SIZE;
  const int32_t small_size = small ? static_cast<int32_t>(facts.size) + 2 : 0;
  char* small_window = small ? static_cast<char*>(MPAlloc(pool, small_size)) : nullptr;
  if (const char* reason = Detect(in, pool, small_window, small_size - 1)) {
    INClose(in);
    if (damaged != nullptr) *damaged = reason;
    return nullptr;
  }
  if (in->first_buff != nullptr) {
    // Decoded whole: the window holds all of it.
  } else if (small && in->type == IN_PLAIN) {
    in->first_buff = small_window;
    in->first_buff_size = small_size;
    in->buff_cnt = in->source.head_count;
    in->source.head_at = in->source.head_count;  // already in the window
    // All of it, and less than the read asked for: the end is found without another read.
    if (in->buff_cnt < small_size - 1 && SourceAtSize(&in->source)) in->at_eof = 1;
  } else {
    // A decoder hands out the head from the small window, which the pool keeps.
    in->first_buff = static_cast<char*>(MPAlloc(pool, IN_BUFF_SIZE));
    in->first_buff_size = IN_BUFF_SIZE;
  }
  in->buff = in->first_buff;
  in->buff_size = in->first_buff_size;
  INFill(in, 0);
  if (const Container* container = ContainerNotRead(in)) {
    INClose(in);
    if (not_read != nullptr) *not_read = container->name;
    return nullptr;
  }
  return in;
}

InputFile* INAttach(FileDescriptor file, MemoryPool* pool, const char** not_read,
                    const char** damaged) {
  const FileFacts facts = FactsOf(file.Get());
  return INAttach(std::move(file), facts, pool, not_read, damaged);
}

void INClose(InputFile* in) {
  // The decoder is the worker's until its running fill is over.
  if (in->ahead != nullptr) StopReadAhead(in->ahead);
  in->ahead = nullptr;
  if (in->buff != in->first_buff) std::free(in->buff);
  in->buff = in->first_buff;
  in->buff_size = in->first_buff_size;
  if (const Container* container = ContainerOf(in->type)) {
    container->reader.close(in->reader);
  } else {
    Say("Invalid file type in INClose!\n");
  }
  in->descriptor.Reset();
}

bool INReadAhead(InputFile* in, WorkCrew& crew) {
  const Container* container = ContainerOf(in->type);
  // Only regular files: a worker blocked reading a pipe whose writer never ends would hold
  // up closing the input (after a write error, say), where the merge thread alone just
  // closes it.
  const bool regular = in->facts.known && in->facts.regular;
  if (in->ahead != nullptr || in->at_eof || container == nullptr || in->type == IN_PLAIN ||
      !regular) {
    return false;
  }
  in->ahead = StartReadAhead(crew, DecoderHandle{container->reader.read, in->reader});
  return in->ahead != nullptr;
}

// ---- Reading -------------------------------------------------------------------------------

char* INPeek(InputFile* in) {
  // Most lines start before the last line end of the window: whole without a scan of their
  // own. The first window holds no line longer than IN_LINE_MAX.
  if (in->buff_pos < in->whole_before && in->buff_cnt > 0) return in->buff + in->buff_pos;
  int32_t scanned = 0;  // bytes of the line known to hold no line end
  for (;;) {
    if (in->buff_cnt == 0) return nullptr;
    char* line = in->buff + in->buff_pos;
    const int32_t text = scanned + TextLength(line + scanned);
    if (text > IN_LINE_MAX) {
      DropLongLine(in);
      scanned = 0;
      continue;
    }
    // Whole: its line end is followed by one more byte (the second of a pair), or the
    // input has no more to give.
    if (text + 1 < in->buff_cnt) {
      if (in->buff == in->first_buff) NoteLastLineEnd(in, text);
      return line;
    }
    if (in->at_eof) return line;
    scanned = text < in->buff_cnt ? text : in->buff_cnt;
    if (!MakeRoom(in)) {
      DropLongLine(in);
      scanned = 0;
      continue;
    }
    ReadChunk(in);
  }
}

void INAdvance(InputFile* in, int32_t len) {
  // The report quotes the condition as written.
  // clang-format off
  STITCHER_CHECK("input", len>0 && len<=in->buff_cnt+1);
  // clang-format on
  INFill(in, len > in->buff_cnt ? in->buff_cnt : len);
}
