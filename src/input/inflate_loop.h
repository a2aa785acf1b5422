#pragma once
// The inflate loop that gzip members and zip members share: zlib inflate from compressed
// bytes that a feed supplies into the caller's output space (z->next_out, z->avail_out).

#include <zlib.h>

// ---- Where the compressed bytes come from ------------------------------------------------------
struct InflateFeed {
  // Called whenever z->avail_in is 0: points z->next_in and z->avail_in at the next compressed
  // bytes, none at the end of the data. False on a read error.
  bool (*refill)(void* context, z_stream* z);
  void* context;
};

// ---- The loop --------------------------------------------------------------------------------
enum class InflateStop {
  kOutputFull,  // z->avail_out is 0; call again with more space
  kStreamEnd,   // the deflate stream ended; compressed bytes after it stay in z->next_in
  kFailed,      // corrupt data, data cut short at the end of the input, or a read error
};

// Inflates until one of the stops above.
InflateStop InflateSome(z_stream* z, const InflateFeed& feed);
