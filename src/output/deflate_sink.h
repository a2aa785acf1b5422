#pragma once
// The threaded gzip sink: the merged log in fixed chunks, each compressed into one gzip member
// on a pool of threads and written in order. Chunk boundaries depend only on the byte count,
// so the file's bytes are the same whatever the number of threads.

#include <cstddef>
#include <cstdio>
#include <memory>

#include "output/sink.h"

// ---- Sizes ---------------------------------------------------------------------------------
// Bytes of merged log in each gzip member (the last member may hold fewer). Each member starts
// without the previous one's window: in 1 MiB members libdeflate's level 7 came out 0.01 %
// larger than gzip -9 of a WebSTAR merged log, in 2 MiB members it is 0.3 % smaller.
inline constexpr size_t kDeflateChunkSize = size_t{2} << 20;

// Chunks held at once beyond one per thread: the one being filled and one written while the
// threads work. Memory stays at about (threads + this) x 2 chunk sizes, whatever the output.
inline constexpr int kDeflateSpareChunks = 2;

// More threads than this would only hold more memory; a larger request gets this many.
inline constexpr int kMostDeflateThreads = 64;

// Threads when none are chosen: one per core the machine reports (at least one).
int DefaultDeflateThreads();

// ---- The sink ------------------------------------------------------------------------------
// Gzip members at gzip `level` (0..9, through kMemberLevels) to `file`, which the sink owns,
// compressed on `threads` threads (0 or less: DefaultDeflateThreads()). The sink's contract is
// OutputSink's: a refused write is reported once, later writes and the finish fail, and the
// threads are joined by Finish or by the destructor, whichever comes first. Threads the system
// will not start are done without (with one note); with none the caller's thread compresses.
// Compressors the memory does not allow mean fewer threads as well. Null (and the file closed)
// when no file is given or not one compressor can be set up.
std::unique_ptr<OutputSink> MakeDeflateSink(std::FILE* file, int level, int threads);
