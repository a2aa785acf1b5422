#include "input/byte_source.h"

// ---- Plain text ------------------------------------------------------------------------------

void* PlainOpen(std::FILE* file, MemoryPool*) {
  return file;
}

DecodeResult PlainRead(void* reader, char* out, int32_t want) {
  auto* file = static_cast<std::FILE*>(reader);
  const size_t n = std::fread(out, 1, static_cast<size_t>(want), file);
  return {static_cast<int32_t>(n), std::ferror(file) != 0};
}

void PlainClose(void* reader) {
  std::fclose(static_cast<std::FILE*>(reader));
}

// ---- Compressed input for the decoders --------------------------------------------------------

void InitByteSource(ByteSource* source, std::FILE* file, MemoryPool* pool) {
  source->file = file;
  source->buffer = static_cast<unsigned char*>(MPAlloc(pool, SOURCE_CHUNK));
  source->eof = false;
  source->error = false;
}

uint32_t RefillByteSource(ByteSource* source) {
  if (source->eof) return 0;
  const size_t n = std::fread(source->buffer, 1, SOURCE_CHUNK, source->file);
  if (n == 0) {
    source->eof = true;
    source->error = std::ferror(source->file) != 0;
  }
  return static_cast<uint32_t>(n);
}
