#pragma once
// Small compressed files made in code: gzip members, bzip2 streams, xz streams, zstd frames,
// zip archives and tar archives.

#include <bzlib.h>
#include <lzma.h>
#include <minizip/zip.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_support {

// `text` compressed by deflate; `window_bits` chooses the wrapping (15 + 16: a gzip
// member, -15: raw deflate data).
inline std::string DeflateBytes(const std::string& text, int level, int window_bits) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One gzip member holding `text`.
inline std::string GzipBytes(const std::string& text, int level = 6) {
  return DeflateBytes(text, level, 15 + 16);
}

// One bzip2 stream holding `text`.
inline std::string Bzip2Bytes(const std::string& text, int block_size = 9) {
  std::string out(text.size() + text.size() / 100 + 1024, '\0');
  unsigned int length = static_cast<unsigned int>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(text.data()),
                           static_cast<unsigned int>(text.size()), block_size, 0, 0);
  out.resize(length);
  return out;
}

// One xz stream holding `text`, at xz's compression `preset`.
inline std::string XzBytes(const std::string& text, uint32_t preset = 6) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  size_t length = 0;
  lzma_easy_buffer_encode(preset, LZMA_CHECK_CRC64, nullptr,
                          reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                          reinterpret_cast<uint8_t*>(out.data()), &length, out.size());
  out.resize(length);
  return out;
}

// One zstd frame holding `text`.
inline std::string ZstdBytes(const std::string& text, int level = 3) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), level));
  return out;
}

// One zstd frame holding `text` with its content checksum, as the `zstd` tool writes it.
inline std::string ZstdCheckedBytes(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1);
  out.resize(ZSTD_compress2(cctx, out.data(), out.size(), text.data(), text.size()));
  ZSTD_freeCCtx(cctx);
  return out;
}

// A zstd skippable frame of `length` bytes of content, as some tools put in front of or
// between frames.
inline std::string ZstdSkippableFrame(uint32_t length) {
  std::string frame = {'\x50', '\x2A', '\x4D', '\x18'};
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  return frame + std::string(length, 'k');
}

// A tar archive (ustar) of one file `name` holding `content`, then the two empty end blocks.
inline std::string TarBytes(const std::string& name, const std::string& content) {
  std::string header(512, '\0');
  header.replace(0, name.size(), name);
  header.replace(100, 7, "0000644");
  header.replace(108, 7, "0001750");
  header.replace(116, 7, "0001750");
  char size[13];
  std::snprintf(size, sizeof size, "%011o", static_cast<unsigned>(content.size()));
  header.replace(124, 11, size);
  header.replace(136, 11, "14500000000");
  header.replace(148, 8, "        ");
  header[156] = '0';
  header.replace(257, 6, std::string("ustar\0", 6));
  header.replace(263, 2, "00");
  unsigned sum = 0;
  for (unsigned char c : header) sum += c;
  char sum_field[8];
  std::snprintf(sum_field, sizeof sum_field, "%06o", sum);
  header.replace(148, 7, std::string(sum_field, 6) + '\0');
  std::string body = content;
  body.resize((content.size() + 511) / 512 * 512, '\0');
  return header + body + std::string(1024, '\0');
}

inline std::string RawDeflate(const std::string& text) {
  return DeflateBytes(text, 6, -15);
}

struct ZipMember {
  std::string name;
  std::string content;
  int method = Z_DEFLATED;  // 0 stored, 8 deflated; any other value is written as given
};

// Sets the method field of member `name` in its local header and its directory entry.
inline void PatchZipMethod(std::string* zip, const std::string& name, int method) {
  const struct {
    const char* signature;
    size_t name_at;
    size_t method_at;
  } headers[] = {{"PK\x03\x04", 30, 8}, {"PK\x01\x02", 46, 10}};
  for (const auto& h : headers) {
    for (size_t p = zip->find(h.signature); p != std::string::npos;
         p = zip->find(h.signature, p + 4)) {
      if (zip->compare(p + h.name_at, name.size(), name) != 0) continue;
      (*zip)[p + h.method_at] = static_cast<char>(method & 0xFF);
      (*zip)[p + h.method_at + 1] = static_cast<char>(method >> 8);
    }
  }
}

// A zip archive of `members`, in order, written with minizip's writer. A method other than
// 0 and 8 is written as stored data with that method number in its headers.
inline std::string ZipBytes(const std::vector<ZipMember>& members) {
  // The process id keeps test programs that ctest runs side by side off each other's files.
  static int serial = 0;
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("stitcher-fixture-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".zip");
  zipFile zf = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
  for (const ZipMember& m : members) {
    zip_fileinfo info{};
    const int method = m.method == Z_DEFLATED ? Z_DEFLATED : 0;
    zipOpenNewFileInZip(zf, m.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                        Z_DEFAULT_COMPRESSION);
    zipWriteInFileInZip(zf, m.content.data(), static_cast<unsigned>(m.content.size()));
    zipCloseFileInZip(zf);
  }
  zipClose(zf, nullptr);
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::filesystem::remove(path);
  for (const ZipMember& m : members) {
    if (m.method != 0 && m.method != Z_DEFLATED) PatchZipMethod(&bytes, m.name, m.method);
  }
  return bytes;
}

// Little-endian fields of a zip record.
inline void PutLE(std::string* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A zip archive of `members` (stored or deflated) written the way `zip -fz` writes one: every
// size in the headers defers to a zip64 extra field, and the end of the directory is found
// through the zip64 end records.
inline std::string Zip64Bytes(const std::vector<ZipMember>& members) {
  constexpr uint32_t kDefer = 0xFFFFFFFF;
  std::string archive;
  std::string directory;
  for (const ZipMember& m : members) {
    const std::string data = m.method == Z_DEFLATED ? RawDeflate(m.content) : m.content;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(m.content.data()), m.content.size()));
    std::string zip64;  // uncompressed size, then compressed size
    PutLE(&zip64, 0x0001, 2);
    PutLE(&zip64, 16, 2);
    PutLE(&zip64, m.content.size(), 8);
    PutLE(&zip64, data.size(), 8);
    const uint64_t offset = archive.size();
    PutLE(&archive, 0x04034B50, 4);
    PutLE(&archive, 45, 2);  // version needed: zip64
    PutLE(&archive, 0, 2);   // flags
    PutLE(&archive, static_cast<uint64_t>(m.method), 2);
    PutLE(&archive, 0, 2);     // time
    PutLE(&archive, 0x21, 2);  // date: 1980-01-01
    PutLE(&archive, crc, 4);
    PutLE(&archive, kDefer, 4);  // compressed size
    PutLE(&archive, kDefer, 4);  // uncompressed size
    PutLE(&archive, m.name.size(), 2);
    PutLE(&archive, zip64.size(), 2);
    archive += m.name + zip64 + data;

    PutLE(&directory, 0x02014B50, 4);
    PutLE(&directory, 0x031E, 2);  // made by: Unix, 3.0
    PutLE(&directory, 45, 2);
    PutLE(&directory, 0, 2);
    PutLE(&directory, static_cast<uint64_t>(m.method), 2);
    PutLE(&directory, 0, 2);
    PutLE(&directory, 0x21, 2);
    PutLE(&directory, crc, 4);
    PutLE(&directory, kDefer, 4);
    PutLE(&directory, kDefer, 4);
    PutLE(&directory, m.name.size(), 2);
    PutLE(&directory, zip64.size(), 2);
    PutLE(&directory, 0, 2);  // comment length
    PutLE(&directory, 0, 2);  // disk
    PutLE(&directory, 0, 2);  // internal attributes
    PutLE(&directory, 0, 4);  // external attributes
    PutLE(&directory, offset, 4);
    directory += m.name + zip64;
  }
  const uint64_t directory_at = archive.size();
  archive += directory;
  const uint64_t end64_at = archive.size();
  PutLE(&archive, 0x06064B50, 4);  // zip64 end of directory
  PutLE(&archive, 44, 8);
  PutLE(&archive, 0x031E, 2);
  PutLE(&archive, 45, 2);
  PutLE(&archive, 0, 4);
  PutLE(&archive, 0, 4);
  PutLE(&archive, members.size(), 8);
  PutLE(&archive, members.size(), 8);
  PutLE(&archive, directory.size(), 8);
  PutLE(&archive, directory_at, 8);
  PutLE(&archive, 0x07064B50, 4);  // its locator
  PutLE(&archive, 0, 4);
  PutLE(&archive, end64_at, 8);
  PutLE(&archive, 1, 4);
  PutLE(&archive, 0x06054B50, 4);  // end of directory, deferring to the zip64 record
  PutLE(&archive, 0, 2);
  PutLE(&archive, 0, 2);
  PutLE(&archive, members.size(), 2);
  PutLE(&archive, members.size(), 2);
  PutLE(&archive, directory.size(), 4);
  PutLE(&archive, kDefer, 4);
  PutLE(&archive, 0, 2);
  return archive;
}

}  // namespace testing_support
