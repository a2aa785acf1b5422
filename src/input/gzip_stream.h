#pragma once
// gzip streams: the allocator that newly opened gzip streams take their storage from.

#include <cstdio>

// Allocation callbacks with zlib's signatures. All null means zlib's own (the heap).
struct ZlibAllocator {
  void* (*zalloc)(void* opaque, unsigned items, unsigned size) = nullptr;
  void (*zfree)(void* opaque, void* address) = nullptr;
  void* opaque = nullptr;
};

// Installs the allocator that every gzip stream opened from now on (reader or writer)
// takes for all of its storage; an open stream keeps the one it was opened with.
void SetGzipAllocator(const ZlibAllocator& allocator);
const ZlibAllocator& GzipAllocator();
