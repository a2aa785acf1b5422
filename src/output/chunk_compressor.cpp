#include "output/chunk_compressor.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>

#include "base/check.h"

namespace {

// The fixed part of a gzip member's header: magic, method deflate, no flags, no time.
constexpr unsigned char kHeader[] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0};
constexpr unsigned char kOsUnix = 3;  // the operating-system byte zlib writes on Unix
constexpr size_t kHeaderSize = sizeof kHeader + 2;
constexpr size_t kTrailerSize = 8;  // CRC-32 and length, little-endian

void PutLittleEndian32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

const MemberLevel& MemberLevelFor(int gzip_level) {
  const int row = std::clamp(gzip_level, 0, static_cast<int>(kMemberLevels.size()) - 1);
  return kMemberLevels[static_cast<size_t>(row)];
}

struct MemberCompressor::Impl {
  libdeflate_compressor* compressor;
  unsigned char extra_flags;
};

std::unique_ptr<MemberCompressor> MemberCompressor::Make(const MemberLevel& level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level.deflate_level);
  if (compressor == nullptr) return nullptr;
  return std::unique_ptr<MemberCompressor>(
      new MemberCompressor(new Impl{compressor, level.extra_flags}));
}

MemberCompressor::~MemberCompressor() {
  libdeflate_free_compressor(impl_->compressor);
  delete impl_;
}

void MemberCompressor::Compress(std::string_view chunk, std::vector<unsigned char>& member) {
  const size_t bound = libdeflate_deflate_compress_bound(impl_->compressor, chunk.size());
  member.resize(kHeaderSize + bound + kTrailerSize);
  unsigned char* out = member.data();
  std::copy(std::begin(kHeader), std::end(kHeader), out);
  out[sizeof kHeader] = impl_->extra_flags;
  out[sizeof kHeader + 1] = kOsUnix;
  const size_t deflated = libdeflate_deflate_compress(impl_->compressor, chunk.data(), chunk.size(),
                                                      out + kHeaderSize, bound);
  // The buffer holds libdeflate's own worst case, so the data always fits.
  STITCHER_CHECK("chunk_compressor", deflated > 0);
  unsigned char* trailer = out + kHeaderSize + deflated;
  PutLittleEndian32(trailer, libdeflate_crc32(0, chunk.data(), chunk.size()));
  PutLittleEndian32(trailer + 4, static_cast<uint32_t>(chunk.size()));  // length mod 2^32
  member.resize(kHeaderSize + deflated + kTrailerSize);
}
