#include "input/inflate_loop.h"

InflateStop InflateSome(z_stream* z, const InflateFeed& feed) {
  bool drained = false;  // the feed had no more bytes to give
  while (z->avail_out > 0) {
    if (z->avail_in == 0) {
      if (!feed.refill(feed.context, z)) return InflateStop::kFailed;
      drained = z->avail_in == 0;
    }
    const int rc = inflate(z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) return InflateStop::kStreamEnd;
    // Z_BUF_ERROR with the input used up only asks for more input, which the next turn reads;
    // when there is none, the stream is cut short.
    if (rc == Z_BUF_ERROR && z->avail_in == 0 && !drained) continue;
    if (rc != Z_OK) return InflateStop::kFailed;
  }
  return InflateStop::kOutputFull;
}
