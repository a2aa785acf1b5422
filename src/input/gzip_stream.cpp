#include "input/gzip_stream.h"

namespace {

ZlibAllocator current_allocator;

}  // namespace

void SetGzipAllocator(const ZlibAllocator& allocator) {
  current_allocator = allocator;
}

const ZlibAllocator& GzipAllocator() {
  return current_allocator;
}
