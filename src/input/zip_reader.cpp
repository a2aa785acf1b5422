#include "input/zip_reader.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include <cstdint>

#include "input/inflate_loop.h"
#include "platform/descriptor.h"

namespace {

// The archive's bytes as minizip sees them: offsets from the archive's first byte, read at
// their place in the file so the descriptor's own position never moves.
struct ArchiveFile {
  int fd;
  int64_t start;  // the archive's first byte in the file
  int64_t at;     // minizip's position, from `start`
  bool error;     // a read failed
};

// minizip walks the directory and finds each member's data; the reader reads the member's
// stored bytes from the file itself, as many as the directory gives (zip64 fields included),
// and inflates deflated members with one ISA-L state, restarted member after member. The CRC
// and size are checked against the directory.
struct ZipReader {
  ArchiveFile archive;
  unzFile unz;
  unsigned char* input;  // SOURCE_CHUNK bytes of raw member data
  inflate_state* state;  // ISA-L raw inflate, taken once and restarted member after member
  bool done;             // no member is open any more
  bool deflated;         // method 8; otherwise stored (method 0)
  bool input_end;        // the member's raw bytes are all read
  ZPOS64_T raw_at;       // where the member's next raw byte is, from the archive's start
  ZPOS64_T raw_left;     // the member's raw bytes not read yet
  bool member_end;       // the member's data is complete
  bool failed;
  uLong crc;  // of the bytes produced so far
  uLong expected_crc;
  ZPOS64_T produced;
  ZPOS64_T expected_size;
};

// Reads up to `want` bytes at `at` bytes from the archive's first byte. An offset from a
// damaged directory that lies beyond any file fails as a read error, never wraps around.
int64_t ReadArchiveAt(const ArchiveFile& a, void* out, size_t want, uint64_t at) {
  int64_t offset = 0;
  if (at > static_cast<uint64_t>(INT64_MAX) ||
      __builtin_add_overflow(a.start, static_cast<int64_t>(at), &offset)) {
    return -1;
  }
  return ReadAt(a.fd, out, want, offset);
}

// ---- The archive over the already-open file -----------------------------------------------------

// minizip reads the archive through these callbacks over an ArchiveFile (the opaque value);
// closing the archive leaves the file open for its owner. Positions are 64-bit, so zip64
// archives (members or directories past 4 GiB, or zip64 fields written anyway, as `zip -fz`
// does) are read whole.
voidpf ArchiveOpen(voidpf opaque, const void*, int) {
  return opaque;
}

uLong ArchiveRead(voidpf, voidpf stream, void* buf, uLong size) {
  auto* a = static_cast<ArchiveFile*>(stream);
  uLong done = 0;
  while (done < size) {
    const int64_t n = ReadArchiveAt(*a, static_cast<char*>(buf) + done, size - done,
                                    static_cast<uint64_t>(a->at));
    if (n < 0) a->error = true;
    if (n <= 0) break;
    a->at += n;
    done += static_cast<uLong>(n);
  }
  return done;
}

uLong ArchiveWrite(voidpf, voidpf, const void*, uLong) {
  return 0;  // archives are only read
}

ZPOS64_T ArchiveTell(voidpf, voidpf stream) {
  return static_cast<ZPOS64_T>(static_cast<ArchiveFile*>(stream)->at);
}

long ArchiveSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* a = static_cast<ArchiveFile*>(stream);
  // A negative offset (from the end) arrives as an unsigned value; the cast restores it.
  int64_t base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = a->at;
  if (origin == ZLIB_FILEFUNC_SEEK_END) {
    const FileFacts facts = FactsOf(a->fd);
    if (!facts.regular) return -1;
    base = facts.size - a->start;
  }
  // A move back comes as an offset wrapped around; offsets come from the archive's own
  // directory, so one beyond any file is refused rather than overflowing.
  int64_t to = 0;
  if (__builtin_add_overflow(base, static_cast<int64_t>(offset), &to) || to < 0) return -1;
  a->at = to;
  return 0;
}

int ArchiveClose(voidpf, voidpf) {
  return 0;
}

int ArchiveTestError(voidpf, voidpf stream) {
  return static_cast<ArchiveFile*>(stream)->error ? 1 : 0;
}

// Opens the archive that starts at `start` in the file `fd`, read through `archive`, which
// must stay in place as long as the archive is open.
unzFile OpenArchive(ArchiveFile* archive, int fd, int64_t start) {
  *archive = ArchiveFile{fd, start, 0, false};
  zlib_filefunc64_def functions{};
  functions.zopen64_file = ArchiveOpen;
  functions.zread_file = ArchiveRead;
  functions.zwrite_file = ArchiveWrite;
  functions.ztell64_file = ArchiveTell;
  functions.zseek64_file = ArchiveSeek;
  functions.zclose_file = ArchiveClose;
  functions.zerror_file = ArchiveTestError;
  functions.opaque = archive;
  return unzOpen2_64("", &functions);
}

// ---- One member ----------------------------------------------------------------------------

constexpr uLong kStored = 0;
constexpr uLong kDeflated = Z_DEFLATED;
constexpr uLong kEncrypted = 1;  // general-purpose flag bit 0

constexpr ZPOS64_T kInZip64Field = 0xFFFFFFFF;  // a 32-bit size field that defers to zip64
constexpr uint16_t kZip64FieldId = 0x0001;
constexpr uLong kExtraBytes = 4096;  // of a member's extra field looked at for the zip64 field

uint64_t LittleEndian(const unsigned char* p, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The member's sizes from its zip64 extra field, for those whose 32-bit field holds
// 0xFFFFFFFF. minizip on a 64-bit machine does not take them from there itself, so without
// this a member written with zip64 fields (every member of `zip -fz`, or of 4 GiB or more)
// would be read to the wrong length and fail its size check. The field holds the uncompressed size,
// then the compressed size, each only when its 32-bit field defers to it.
void ApplyZip64Sizes(unz_file_info64* info, const unsigned char* extra, uLong length) {
  const bool uncompressed = info->uncompressed_size == kInZip64Field;
  const bool compressed = info->compressed_size == kInZip64Field;
  if (!uncompressed && !compressed) return;
  for (uLong at = 0; at + 4 <= length;) {
    const auto id = static_cast<uint16_t>(LittleEndian(extra + at, 2));
    const auto size = static_cast<uLong>(LittleEndian(extra + at + 2, 2));
    const unsigned char* data = extra + at + 4;
    at += 4 + size;
    if (id != kZip64FieldId || at > length) continue;
    uLong used = 0;
    if (uncompressed && used + 8 <= size) {
      info->uncompressed_size = LittleEndian(data + used, 8);
      used += 8;
    }
    if (compressed && used + 8 <= size) info->compressed_size = LittleEndian(data + used, 8);
    return;
  }
}

bool OpenMember(ZipReader* r) {
  unz_file_info64 info;
  unsigned char extra[kExtraBytes];
  if (unzGetCurrentFileInfo64(r->unz, &info, nullptr, 0, extra, kExtraBytes, nullptr, 0) !=
      UNZ_OK) {
    return false;
  }
  ApplyZip64Sizes(&info, extra,
                  info.size_file_extra < kExtraBytes ? info.size_file_extra : kExtraBytes);
  if ((info.flag & kEncrypted) != 0) return false;
  if (info.compression_method != kStored && info.compression_method != kDeflated) return false;
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(r->unz, &method, &level, 1) != UNZ_OK) return false;
  r->raw_at = unzGetCurrentFileZStreamPos64(r->unz);
  r->raw_left = info.compressed_size;
  r->deflated = info.compression_method == kDeflated;
  r->input_end = false;
  r->member_end = false;
  r->failed = false;
  r->crc = crc32(0, nullptr, 0);
  r->expected_crc = info.crc;
  r->produced = 0;
  r->expected_size = info.uncompressed_size;
  if (r->deflated) {
    RestartInflate(r->state, InflateWrapper::kRawDeflate);
    r->state->avail_in = 0;  // nothing of the previous member carries over
  }
  return true;
}

// Up to `want` of the member's raw bytes; 0 at their end, -1 on a read error or when the
// file ends before them.
int32_t ReadRaw(ZipReader* r, void* out, int32_t want) {
  if (r->raw_left < static_cast<ZPOS64_T>(want)) want = static_cast<int32_t>(r->raw_left);
  if (want == 0) return 0;
  const int64_t n = ReadArchiveAt(r->archive, out, static_cast<size_t>(want), r->raw_at);
  if (n <= 0) return -1;
  r->raw_at += static_cast<ZPOS64_T>(n);
  r->raw_left -= static_cast<ZPOS64_T>(n);
  return static_cast<int32_t>(n);
}

// Raw member bytes for the inflate loop; false on a read error.
bool Feed(void* context, inflate_state* z) {
  auto* r = static_cast<ZipReader*>(context);
  if (r->input_end) return true;
  const int32_t n = ReadRaw(r, r->input, SOURCE_CHUNK);
  if (n < 0) return false;
  if (n == 0) r->input_end = true;
  z->next_in = r->input;
  z->avail_in = static_cast<uint32_t>(n);
  return true;
}

int32_t InflateMember(ZipReader* r, char* out, int32_t want) {
  r->state->next_out = reinterpret_cast<uint8_t*>(out);
  r->state->avail_out = static_cast<uint32_t>(want);
  switch (InflateSome(r->state, InflateFeed{Feed, r})) {
    case InflateStop::kOutputFull:
      break;
    case InflateStop::kStreamEnd:
      r->member_end = true;
      break;
    case InflateStop::kFailed:
      r->failed = true;
      break;
  }
  return want - static_cast<int32_t>(r->state->avail_out);
}

int32_t CopyStored(ZipReader* r, char* out, int32_t want) {
  const int32_t n = ReadRaw(r, out, want);
  if (n < 0) {
    r->failed = true;
    return 0;
  }
  if (n == 0) r->member_end = true;
  return n;
}

// Reads the open member; count 0 without failure is the member's end.
DecodeResult ReadMember(ZipReader* r, char* out, int32_t want) {
  int32_t n = 0;
  if (!r->member_end && !r->failed) {
    n = r->deflated ? InflateMember(r, out, want) : CopyStored(r, out, want);
    r->crc = crc32(r->crc, reinterpret_cast<const Bytef*>(out), static_cast<uInt>(n));
    r->produced += static_cast<ZPOS64_T>(n);
  }
  // At the member's end its data must match the directory; a mismatch is a damaged member.
  if (r->member_end && !r->failed &&
      (r->crc != r->expected_crc || r->produced != r->expected_size)) {
    r->failed = true;
  }
  return {n, r->failed};
}

void CloseMember(ZipReader* r) {
  unzCloseCurrentFile(r->unz);
}

// Moves to the next member and opens it. `at_end` is set when there was none; false with
// `at_end` clear means the next member exists but cannot be read.
bool NextMember(ZipReader* r, bool* at_end) {
  const int rc = unzGoToNextFile(r->unz);
  *at_end = rc == UNZ_END_OF_LIST_OF_FILE;
  return rc == UNZ_OK && OpenMember(r);
}

}  // namespace

void* ZipOpen(SourceFile* file, MemoryPool* pool) {
  const int64_t start = SourceStart(file);
  if (start < 0) return nullptr;
  auto* r = static_cast<ZipReader*>(MPAllocAligned(pool, sizeof(ZipReader)));
  *r = ZipReader{};
  r->unz = OpenArchive(&r->archive, file->fd, start);
  if (r->unz == nullptr) return nullptr;
  unzFile unz = r->unz;
  r->state = NewInflateState(pool, InflateWrapper::kRawDeflate);
  r->input = static_cast<unsigned char*>(MPAlloc(pool, SOURCE_CHUNK));
  if (unzGoToFirstFile(unz) != UNZ_OK || !OpenMember(r)) {
    unzClose(unz);
    return nullptr;
  }
  return r;
}

DecodeResult ZipRead(void* reader, char* out, int32_t want) {
  auto* r = static_cast<ZipReader*>(reader);
  DecodeResult total{0, false};
  while (total.count < want && !r->done) {
    const DecodeResult got = ReadMember(r, out + total.count, want - total.count);
    total.count += got.count;
    if (got.failed) {
      CloseMember(r);
      r->done = true;
      total.failed = true;
    } else if (got.count == 0) {
      CloseMember(r);
      bool at_end = false;
      if (!NextMember(r, &at_end)) {
        r->done = true;
        // A member that exists but cannot be read loses data: say so.
        total.failed = !at_end;
      }
    }
  }
  return total;
}

void ZipClose(void* reader) {
  auto* r = static_cast<ZipReader*>(reader);
  if (!r->done) CloseMember(r);
  r->done = true;
  unzClose(r->unz);
}

bool ZipHasDirectory(const SourceFile* file) {
  const int64_t start = SourceStart(file);
  if (start < 0) return false;
  ArchiveFile archive;
  unzFile unz = OpenArchive(&archive, file->fd, start);
  if (unz == nullptr) return false;
  unzClose(unz);
  return true;
}

bool ZipMembersDone(const void* reader) {
  return static_cast<const ZipReader*>(reader)->done;
}
