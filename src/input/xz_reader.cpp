#include "input/xz_reader.h"

#include <lzma.h>

#include <cstdlib>

#include "base/resource_limits.h"

namespace {

struct XzReader {
  lzma_stream xz;
  ByteSource source;
  bool ended;   // the last stream ended cleanly at the end of the file
  bool failed;  // a data or read error; nothing more is produced
};

}  // namespace

uint64_t XzFirstDictionary(const uint8_t* data, size_t size) {
  lzma_stream_flags flags{};
  if (size < LZMA_STREAM_HEADER_SIZE + 1 || lzma_stream_header_decode(&flags, data) != LZMA_OK) {
    return 0;
  }
  const uint8_t* header = data + LZMA_STREAM_HEADER_SIZE;
  if (header[0] == 0) return 0;  // the index: a stream without blocks
  lzma_filter filters[LZMA_FILTERS_MAX + 1];
  lzma_block block{};
  block.version = 0;
  block.check = flags.check;
  block.filters = filters;
  block.header_size = lzma_block_header_size_decode(header[0]);
  if (size < LZMA_STREAM_HEADER_SIZE + block.header_size ||
      lzma_block_header_decode(&block, nullptr, header) != LZMA_OK) {
    return 0;
  }
  uint64_t dictionary = 0;
  for (size_t i = 0; filters[i].id != LZMA_VLI_UNKNOWN; ++i) {
    if (filters[i].id == LZMA_FILTER_LZMA2 || filters[i].id == LZMA_FILTER_LZMA1) {
      dictionary = static_cast<const lzma_options_lzma*>(filters[i].options)->dict_size;
    }
    std::free(filters[i].options);  // liblzma took them from the heap (no allocator given)
  }
  return dictionary;
}

void* XzOpen(SourceFile* file, MemoryPool* pool) {
  auto* r = static_cast<XzReader*>(MPAllocAligned(pool, sizeof(XzReader)));
  *r = XzReader{};
  r->xz = LZMA_STREAM_INIT;
  InitByteSource(&r->source, file, pool);
  // The first block's header says how large a dictionary the data needs: a file that asks for
  // more than the limit is refused before its decoder takes any of it.
  r->xz.avail_in = RefillByteSource(&r->source);
  r->xz.next_in = r->source.buffer;
  const uint64_t dictionary = XzFirstDictionary(r->source.buffer, r->xz.avail_in);
  if (!WithinDecoderLimit(file, "xz dictionary", dictionary, XZ_DICTIONARY_LIMIT)) return nullptr;
  // Concatenated: streams one after the other are one run of data, as `xz -d` reads them.
  if (lzma_stream_decoder(&r->xz, XZ_MEMORY_LIMIT, LZMA_CONCATENATED) != LZMA_OK) {
    lzma_end(&r->xz);
    return nullptr;
  }
  return r;
}

DecodeResult XzRead(void* reader, char* out, int32_t want) {
  auto* r = static_cast<XzReader*>(reader);
  r->xz.next_out = reinterpret_cast<uint8_t*>(out);
  r->xz.avail_out = static_cast<size_t>(want);
  while (r->xz.avail_out > 0 && !r->ended && !r->failed) {
    if (r->xz.avail_in == 0) {
      r->xz.avail_in = RefillByteSource(&r->source);
      r->xz.next_in = r->source.buffer;
      if (r->source.error) {
        r->failed = true;
        break;
      }
    }
    // At the end of the file the decoder is told so: a stream cut short then fails.
    const lzma_action action = r->xz.avail_in == 0 ? LZMA_FINISH : LZMA_RUN;
    const lzma_ret rc = lzma_code(&r->xz, action);
    if (rc == LZMA_STREAM_END) {
      r->ended = true;
    } else if (rc == LZMA_MEM_ERROR) {
      EndOutOfMemory("the xz decoder could not have its dictionary");
    } else if (rc != LZMA_OK) {
      r->failed = true;  // corrupt or cut short, or more memory than the limit
    }
  }
  return {want - static_cast<int32_t>(r->xz.avail_out), r->failed};
}

void XzClose(void* reader) {
  auto* r = static_cast<XzReader*>(reader);
  lzma_end(&r->xz);
}
