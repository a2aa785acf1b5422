#include "output/gzip_writer.h"

#include <zlib.h>

#include <memory>
#include <new>

namespace {

constexpr int kOutSize = 16384;  // compressed bytes gathered before each file write

}  // namespace

// The writer, its buffer and deflate's state live on the heap (zlib's own allocator), never
// on an input's pool memory, so the merged log's compressor depends on no input's lifetime.
struct GzipWriter {
  z_stream stream{};
  std::FILE* file = nullptr;
  unsigned char out[kOutSize];
  bool failed = false;  // a write to the file failed
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

}  // namespace

GzipWriter* GzipOpenWrite(std::FILE* file, int level) {
  if (file == nullptr) return nullptr;
  std::unique_ptr<GzipWriter> w(new (std::nothrow) GzipWriter);
  // windowBits 15 + 16: a gzip header and trailer around the deflate data.
  if (w == nullptr ||
      deflateInit2(&w->stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    std::fclose(file);
    return nullptr;
  }
  w->file = file;
  w->stream.next_out = w->out;
  w->stream.avail_out = kOutSize;
  return w.release();
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
  delete w;
  return ok;
}
