#include "input/zip_reader.h"

#include <minizip/unzip.h>
#include <zlib.h>

#include "input/inflate_loop.h"

namespace {

// minizip delivers each member's stored bytes (raw mode); deflated members are inflated here
// so that their storage comes through the allocator the reader was opened with, and is reused
// member after member. The CRC and size are checked against the directory.
struct ZipReader {
  std::FILE* file;
  unzFile unz;
  ZlibAllocator allocator;
  unsigned char* input;  // SOURCE_CHUNK bytes of raw member data
  z_stream z;
  bool done;        // no member is open any more
  bool deflated;    // method 8; otherwise stored (method 0)
  bool inflating;   // z holds an initialised inflate state
  bool input_end;   // the member's raw bytes are all read
  bool member_end;  // the member's data is complete
  bool failed;
  uLong crc;  // of the bytes produced so far
  uLong expected_crc;
  ZPOS64_T produced;
  ZPOS64_T expected_size;
};

// ---- The archive over the already-open stream ---------------------------------------------------

// minizip reads the archive through these callbacks over the stream (the opaque value);
// closing the archive leaves the stream open for its owner.
voidpf StreamOpen(voidpf opaque, const char*, int) {
  return opaque;
}

uLong StreamRead(voidpf, voidpf stream, void* buf, uLong size) {
  return std::fread(buf, 1, size, static_cast<std::FILE*>(stream));
}

uLong StreamWrite(voidpf, voidpf, const void*, uLong) {
  return 0;  // archives are only read
}

long StreamTell(voidpf, voidpf stream) {
  return std::ftell(static_cast<std::FILE*>(stream));
}

long StreamSeek(voidpf, voidpf stream, uLong offset, int origin) {
  int whence = SEEK_SET;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) whence = SEEK_CUR;
  if (origin == ZLIB_FILEFUNC_SEEK_END) whence = SEEK_END;
  // minizip passes negative offsets for SEEK_END as unsigned values.
  return std::fseek(static_cast<std::FILE*>(stream), static_cast<long>(offset), whence) == 0 ? 0
                                                                                             : -1;
}

int StreamClose(voidpf, voidpf) {
  return 0;
}

int StreamTestError(voidpf, voidpf stream) {
  return std::ferror(static_cast<std::FILE*>(stream));
}

unzFile OpenArchive(std::FILE* file) {
  zlib_filefunc_def functions{};
  functions.zopen_file = StreamOpen;
  functions.zread_file = StreamRead;
  functions.zwrite_file = StreamWrite;
  functions.ztell_file = StreamTell;
  functions.zseek_file = StreamSeek;
  functions.zclose_file = StreamClose;
  functions.zerror_file = StreamTestError;
  functions.opaque = file;
  return unzOpen2("", &functions);
}

// ---- One member ----------------------------------------------------------------------------

constexpr uLong kStored = 0;
constexpr uLong kDeflated = Z_DEFLATED;
constexpr uLong kEncrypted = 1;  // general-purpose flag bit 0

bool OpenMember(ZipReader* r) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(r->unz, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return false;
  }
  if ((info.flag & kEncrypted) != 0) return false;
  if (info.compression_method != kStored && info.compression_method != kDeflated) return false;
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(r->unz, &method, &level, 1) != UNZ_OK) return false;
  r->deflated = info.compression_method == kDeflated;
  r->input_end = false;
  r->member_end = false;
  r->failed = false;
  r->crc = crc32(0, nullptr, 0);
  r->expected_crc = info.crc;
  r->produced = 0;
  r->expected_size = info.uncompressed_size;
  if (r->deflated) {
    r->z = z_stream{};
    r->z.zalloc = r->allocator.zalloc;
    r->z.zfree = r->allocator.zfree;
    r->z.opaque = r->allocator.opaque;
    if (inflateInit2(&r->z, -15) != Z_OK) {
      unzCloseCurrentFile(r->unz);
      return false;
    }
    r->inflating = true;
  }
  return true;
}

// Raw member bytes for the inflate loop; false on a read error.
bool Feed(void* context, z_stream* z) {
  auto* r = static_cast<ZipReader*>(context);
  if (r->input_end) return true;
  const int n = unzReadCurrentFile(r->unz, r->input, SOURCE_CHUNK);
  if (n < 0) return false;
  if (n == 0) r->input_end = true;
  z->next_in = r->input;
  z->avail_in = static_cast<uInt>(n);
  return true;
}

int32_t InflateMember(ZipReader* r, char* out, int32_t want) {
  r->z.next_out = reinterpret_cast<Bytef*>(out);
  r->z.avail_out = static_cast<uInt>(want);
  switch (InflateSome(&r->z, InflateFeed{Feed, r})) {
    case InflateStop::kOutputFull:
      break;
    case InflateStop::kStreamEnd:
      r->member_end = true;
      break;
    case InflateStop::kFailed:
      r->failed = true;
      break;
  }
  return want - static_cast<int32_t>(r->z.avail_out);
}

int32_t CopyStored(ZipReader* r, char* out, int32_t want) {
  const int n = unzReadCurrentFile(r->unz, out, static_cast<unsigned>(want));
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
  if (r->inflating) inflateEnd(&r->z);
  r->inflating = false;
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

void* ZipOpen(std::FILE* file, MemoryPool* pool, const ZlibAllocator& allocator) {
  if (file == nullptr) return nullptr;
  unzFile unz = OpenArchive(file);
  if (unz == nullptr) return nullptr;
  auto* r = static_cast<ZipReader*>(MPAllocAligned(pool, sizeof(ZipReader)));
  *r = ZipReader{};
  r->file = file;
  r->unz = unz;
  r->allocator = allocator;
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
  std::fclose(r->file);
}

bool ZipMembersDone(const void* reader) {
  return static_cast<const ZipReader*>(reader)->done;
}
