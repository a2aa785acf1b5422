#include "input/decoders.h"

#include <bzlib.h>
#include <minizip/unzip.h>
#include <zlib.h>

#include <cstdint>

#include "input/gzip_stream.h"

namespace {

constexpr int32_t kInSize = 16384;  // compressed bytes read from the file at a time

// The compressed side of a decoder: a buffer from the pool, refilled from the file.
struct Source {
  std::FILE* file;
  unsigned char* buffer;  // kInSize bytes
  bool eof;               // the file has no more bytes
  bool error;             // reading the file failed
};

void InitSource(Source* s, std::FILE* file, MemoryPool* pool) {
  s->file = file;
  s->buffer = static_cast<unsigned char*>(MPAlloc(pool, kInSize));
  s->eof = false;
  s->error = false;
}

// Reads the next piece of the file; returns the number of bytes now at s->buffer.
uint32_t Refill(Source* s) {
  const size_t n = std::fread(s->buffer, 1, kInSize, s->file);
  if (n == 0) {
    s->eof = true;
    s->error = std::ferror(s->file) != 0;
  }
  return static_cast<uint32_t>(n);
}

}  // namespace

// ---- gzip ---------------------------------------------------------------------------------

struct GzipReader {
  z_stream z;
  Source source;
  bool ended;   // the last member ended cleanly at the end of the file
  bool failed;  // a data or read error; nothing more is produced
};

namespace {

// Makes compressed bytes available if there are any; false on a read error.
bool GzipFeed(GzipReader* r) {
  if (r->z.avail_in == 0 && !r->source.eof) {
    r->z.avail_in = Refill(&r->source);
    r->z.next_in = r->source.buffer;
  }
  return !r->source.error;
}

}  // namespace

GzipReader* GzipOpenRead(std::FILE* file, MemoryPool* pool) {
  auto* r = static_cast<GzipReader*>(MPAllocAligned(pool, sizeof(GzipReader)));
  *r = GzipReader{};
  InitSource(&r->source, file, pool);
  const ZlibAllocator& allocator = GzipAllocator();
  r->z.zalloc = allocator.zalloc;
  r->z.zfree = allocator.zfree;
  r->z.opaque = allocator.opaque;
  // windowBits 15 + 16: gzip members only, with their header and CRC checked.
  if (inflateInit2(&r->z, 15 + 16) != Z_OK) return nullptr;
  return r;
}

DecodeResult GzipRead(GzipReader* r, char* out, int32_t want) {
  r->z.next_out = reinterpret_cast<Bytef*>(out);
  r->z.avail_out = static_cast<uInt>(want);
  while (r->z.avail_out > 0 && !r->ended && !r->failed) {
    if (!GzipFeed(r)) {
      r->failed = true;
      break;
    }
    const int rc = inflate(&r->z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      // A member ended. Another member may follow (cat a.gz b.gz); anything else after it
      // fails on its header below, so trailing garbage is reported, not silently dropped.
      if (!GzipFeed(r)) {
        r->failed = true;
      } else if (r->z.avail_in == 0) {
        r->ended = true;
      } else {
        inflateReset(&r->z);
      }
    } else if (rc == Z_BUF_ERROR && r->z.avail_in == 0 && !r->source.eof) {
      continue;  // wants more input, which the next GzipFeed reads
    } else if (rc != Z_OK) {
      r->failed = true;  // corrupt data, or a member cut short at the end of the file
    }
  }
  return {want - static_cast<int32_t>(r->z.avail_out), r->failed};
}

void GzipCloseRead(GzipReader* r) {
  inflateEnd(&r->z);
  std::fclose(r->source.file);
}

// ---- bzip2 --------------------------------------------------------------------------------

struct Bzip2Reader {
  bz_stream bz;
  Bzip2Allocator allocator;  // the one the reader was opened with, for later streams too
  Source source;
  bool ended;
  bool failed;
};

namespace {

bool Bzip2Start(Bzip2Reader* r) {
  r->bz.bzalloc = r->allocator.bzalloc;
  r->bz.bzfree = r->allocator.bzfree;
  r->bz.opaque = r->allocator.opaque;
  return BZ2_bzDecompressInit(&r->bz, 0, 0) == BZ_OK;
}

bool Bzip2Feed(Bzip2Reader* r) {
  if (r->bz.avail_in == 0 && !r->source.eof) {
    r->bz.avail_in = Refill(&r->source);
    r->bz.next_in = reinterpret_cast<char*>(r->source.buffer);
  }
  return !r->source.error;
}

// A stream ended: starts the next one when more bytes follow (files of several streams, as
// parallel bzip2 tools write them).
void Bzip2NextStream(Bzip2Reader* r) {
  if (!Bzip2Feed(r)) {
    r->failed = true;
    return;
  }
  if (r->bz.avail_in == 0) {
    r->ended = true;
    return;
  }
  char* next_in = r->bz.next_in;
  const unsigned avail_in = r->bz.avail_in;
  BZ2_bzDecompressEnd(&r->bz);
  if (!Bzip2Start(r)) {
    r->failed = true;
    return;
  }
  r->bz.next_in = next_in;
  r->bz.avail_in = avail_in;
}

}  // namespace

Bzip2Reader* Bzip2OpenRead(std::FILE* file, MemoryPool* pool) {
  auto* r = static_cast<Bzip2Reader*>(MPAllocAligned(pool, sizeof(Bzip2Reader)));
  *r = Bzip2Reader{};
  r->allocator = CurrentBzip2Allocator();
  InitSource(&r->source, file, pool);
  if (!Bzip2Start(r)) return nullptr;
  return r;
}

DecodeResult Bzip2Read(Bzip2Reader* r, char* out, int32_t want) {
  r->bz.next_out = out;
  r->bz.avail_out = static_cast<unsigned>(want);
  while (r->bz.avail_out > 0 && !r->ended && !r->failed) {
    if (!Bzip2Feed(r)) {
      r->failed = true;
      break;
    }
    const unsigned out_before = r->bz.avail_out;
    const int rc = BZ2_bzDecompress(&r->bz);
    if (rc == BZ_STREAM_END) {
      Bzip2NextStream(r);
    } else if (rc != BZ_OK) {
      r->failed = true;
    } else if (r->bz.avail_in == 0 && r->source.eof && r->bz.avail_out == out_before) {
      r->failed = true;  // the stream is cut short: no input left and no progress
    }
  }
  return {want - static_cast<int32_t>(r->bz.avail_out), r->failed};
}

void Bzip2CloseRead(Bzip2Reader* r) {
  BZ2_bzDecompressEnd(&r->bz);
  std::fclose(r->source.file);
}

// ---- zip ----------------------------------------------------------------------------------

// minizip delivers each member's stored bytes (raw mode); deflated members are inflated here
// so that their storage comes from the archive's zip slot cache and is reused member after
// member. The CRC and size are checked against the directory.
struct ZipReader {
  ZipArchive* archive;
  unsigned char* input;  // kInSize bytes of raw member data
  z_stream z;
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

namespace {

constexpr uLong kStored = 0;
constexpr uLong kDeflated = Z_DEFLATED;
constexpr uLong kEncrypted = 1;  // general-purpose flag bit 0

bool OpenMember(ZipReader* r) {
  unz_file_info64 info;
  if (unzGetCurrentFileInfo64(r->archive->unz, &info, nullptr, 0, nullptr, 0, nullptr, 0) !=
      UNZ_OK) {
    return false;
  }
  if ((info.flag & kEncrypted) != 0) return false;
  if (info.compression_method != kStored && info.compression_method != kDeflated) return false;
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(r->archive->unz, &method, &level, 1) != UNZ_OK) return false;
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
    r->z.zalloc = MPZipAlloc;
    r->z.zfree = MPZipFree;
    r->z.opaque = r->archive->cache;
    if (inflateInit2(&r->z, -15) != Z_OK) {
      unzCloseCurrentFile(r->archive->unz);
      return false;
    }
    r->inflating = true;
  }
  return true;
}

// Raw member bytes for the inflater; false on a read error.
bool ZipFeed(ZipReader* r) {
  if (r->z.avail_in == 0 && !r->input_end) {
    const int n = unzReadCurrentFile(r->archive->unz, r->input, kInSize);
    if (n < 0) return false;
    if (n == 0) r->input_end = true;
    r->z.next_in = r->input;
    r->z.avail_in = static_cast<uInt>(n);
  }
  return true;
}

// Inflates into out[0..want); returns the bytes produced.
int32_t InflateMember(ZipReader* r, char* out, int32_t want) {
  r->z.next_out = reinterpret_cast<Bytef*>(out);
  r->z.avail_out = static_cast<uInt>(want);
  while (r->z.avail_out > 0 && !r->member_end && !r->failed) {
    if (!ZipFeed(r)) {
      r->failed = true;
      break;
    }
    const int rc = inflate(&r->z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      r->member_end = true;
    } else if (rc == Z_BUF_ERROR && r->z.avail_in == 0 && !r->input_end) {
      continue;
    } else if (rc != Z_OK) {
      r->failed = true;
    }
  }
  return want - static_cast<int32_t>(r->z.avail_out);
}

int32_t CopyStored(ZipReader* r, char* out, int32_t want) {
  const int n = unzReadCurrentFile(r->archive->unz, out, static_cast<unsigned>(want));
  if (n < 0) {
    r->failed = true;
    return 0;
  }
  if (n == 0) r->member_end = true;
  return n;
}

}  // namespace

ZipReader* ZipOpenRead(std::FILE* file, MemoryPool* pool) {
  ZipArchive* archive = MPOpenZip(pool, file);
  if (archive == nullptr) return nullptr;
  auto* r = static_cast<ZipReader*>(MPAllocAligned(pool, sizeof(ZipReader)));
  *r = ZipReader{};
  r->archive = archive;
  r->input = static_cast<unsigned char*>(MPAlloc(pool, kInSize));
  if (unzGoToFirstFile(archive->unz) != UNZ_OK || !OpenMember(r)) {
    MPCloseZip(archive);
    return nullptr;
  }
  return r;
}

DecodeResult ZipReadMember(ZipReader* r, char* out, int32_t want) {
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

void ZipCloseMember(ZipReader* r) {
  if (r->inflating) inflateEnd(&r->z);
  r->inflating = false;
  unzCloseCurrentFile(r->archive->unz);
}

bool ZipNextMember(ZipReader* r, bool* at_end) {
  const int rc = unzGoToNextFile(r->archive->unz);
  *at_end = rc == UNZ_END_OF_LIST_OF_FILE;
  return rc == UNZ_OK && OpenMember(r);
}

void ZipCloseArchive(ZipReader* r) {
  MPCloseZip(r->archive);
}
