#pragma once
// Decoding ahead: a compressed input's decoder runs on a worker thread, one block ahead of
// the merge, so that inflating (or bzip2, xz, zstd decoding) of every input overlaps with
// parsing and formatting on the merge thread and with the other inputs' decoding.
//
// Each input that reads ahead owns two blocks. A worker fills one with decoded bytes while
// the merge copies out of the other; then they swap. At most one fill of an input runs at a
// time, and blocks are filled and read in the same order, so the decoder sees its calls in
// the order it would without read-ahead and the bytes come out exactly as they would: the
// same bytes, the same failure after the same bytes, the same end.
//
//   StartReadAhead   hands an open decoder to a crew of workers (platform/fill_ahead.h);
//                    the first fill starts at once
//   ReadAheadRead    the decoded bytes in order, with the decoder's own DecodeResult
//   StopReadAhead    waits for a running fill, then gives the decoder back to the caller

#include <cstdint>

#include "input/byte_source.h"
#include "platform/fill_ahead.h"

struct ReadAhead;

// A decoder's read entry point (byte_source.h) and its state.
struct DecoderHandle {
  DecodeResult (*read)(void* reader, char* out, int32_t want);
  void* reader;
};

// Bytes a block holds: decoded in one turn of a worker, copied out by the merge.
inline constexpr int32_t READ_AHEAD_BLOCK = 1 << 20;

// ---- One input -------------------------------------------------------------------------------
// From here until StopReadAhead the decoder is only called by the crew. Null when the blocks
// cannot be had (the input then simply reads as before).
ReadAhead* StartReadAhead(WorkCrew& crew, DecoderHandle decoder);

// Up to `want` decoded bytes at `out`, waiting for the worker when the current block is used
// up. Bytes before a failure are delivered first; the failure comes with the last of them or
// alone, once; after it, and after the end, reads give 0 bytes.
DecodeResult ReadAheadRead(ReadAhead* ahead, char* out, int32_t want);

// Waits for the running fill, if any, and releases the blocks. The decoder may be closed
// afterwards by the caller.
void StopReadAhead(ReadAhead* ahead);
