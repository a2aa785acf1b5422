#include "output/gzip_writer.h"

#include <zlib.h>

#include <cstdlib>
#include <new>

#include "input/gzip_stream.h"

namespace {

constexpr int kOutSize = 16384;  // compressed bytes gathered before each file write

void* Allocate(const ZlibAllocator& a, size_t size) {
  if (a.zalloc != nullptr) return a.zalloc(a.opaque, 1, static_cast<unsigned>(size));
  return std::malloc(size);
}

void Release(const ZlibAllocator& a, void* address) {
  if (a.zfree != nullptr) {
    a.zfree(a.opaque, address);
  } else {
    std::free(address);
  }
}

}  // namespace

struct GzipWriter {
  z_stream stream;
  std::FILE* file;
  ZlibAllocator allocator;  // the one the writer was opened with
  unsigned char* out;       // kOutSize bytes
  bool failed;              // a write to the file failed
};

namespace {

// Writes what deflate has produced in the output buffer; false when the file refused it.
bool Drain(GzipWriter* w) {
  const size_t produced = kOutSize - w->stream.avail_out;
  if (produced > 0 && std::fwrite(w->out, 1, produced, w->file) != produced) w->failed = true;
  w->stream.next_out = w->out;
  w->stream.avail_out = kOutSize;
  return !w->failed;
}

void FreeWriter(GzipWriter* w) {
  const ZlibAllocator allocator = w->allocator;
  if (w->out != nullptr) Release(allocator, w->out);
  w->~GzipWriter();
  Release(allocator, w);
}

}  // namespace

GzipWriter* GzipOpenWrite(std::FILE* file, int level) {
  if (file == nullptr) return nullptr;
  const ZlibAllocator allocator = GzipAllocator();
  void* memory = Allocate(allocator, sizeof(GzipWriter));
  if (memory == nullptr) {
    std::fclose(file);
    return nullptr;
  }
  auto* w = new (memory) GzipWriter{};
  w->file = file;
  w->allocator = allocator;
  w->out = static_cast<unsigned char*>(Allocate(allocator, kOutSize));
  w->stream.zalloc = reinterpret_cast<alloc_func>(allocator.zalloc);
  w->stream.zfree = reinterpret_cast<free_func>(allocator.zfree);
  w->stream.opaque = allocator.opaque;
  // windowBits 15 + 16: a gzip header and trailer around the deflate data.
  if (w->out == nullptr ||
      deflateInit2(&w->stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    FreeWriter(w);
    std::fclose(file);
    return nullptr;
  }
  w->stream.next_out = w->out;
  w->stream.avail_out = kOutSize;
  return w;
}

int GzipWrite(GzipWriter* w, const void* data, int length) {
  if (length <= 0) return 0;
  if (w->failed) return 0;
  w->stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  w->stream.avail_in = static_cast<uInt>(length);
  while (w->stream.avail_in > 0) {
    if (deflate(&w->stream, Z_NO_FLUSH) == Z_STREAM_ERROR) return 0;
    if (w->stream.avail_out == 0 && !Drain(w)) return 0;
  }
  return length;
}

bool GzipClose(GzipWriter* w) {
  if (w == nullptr) return false;
  int status = Z_OK;
  w->stream.next_in = nullptr;
  w->stream.avail_in = 0;
  while (!w->failed && (status = deflate(&w->stream, Z_FINISH)) == Z_OK) Drain(w);
  const bool finished = status == Z_STREAM_END && Drain(w);
  deflateEnd(&w->stream);
  const bool flushed = std::fflush(w->file) == 0 && std::ferror(w->file) == 0;
  const bool closed = std::fclose(w->file) == 0;
  const bool ok = finished && flushed && closed && !w->failed;
  FreeWriter(w);
  return ok;
}
