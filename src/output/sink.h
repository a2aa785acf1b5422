#pragma once
// Output sinks: where the merged log's bytes go. The merge hands a sink whole batches of
// lines and, at the end, asks it to finish. The first failure of a sink is reported once
// ("Write error on output file!") and the sink refuses everything after it, so a caller
// never needs to check a result twice.
//
// A new kind of target (a threaded compressor, say) is one more class here,
// not a branch in the merge loop.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

// ---- The interface ---------------------------------------------------------------------
class OutputSink {
 public:
  virtual ~OutputSink() = default;

  // Writes `bytes`, which hold `entries` whole entries (a header line holds none). Empty
  // bytes write nothing and succeed. False once any write of this sink failed; the entries
  // of a failed batch are not counted as written.
  bool Write(std::string_view bytes, int64_t entries);

  // Entries of the batches written so far.
  int64_t Written() const { return written_; }

  // Flushes and closes the target (once; later calls change nothing). Returns the entries
  // confirmed written, or nothing when any write, the flush or the close failed: then the
  // output is incomplete and must not replace a good one.
  std::optional<int64_t> Finish();

 protected:
  // Hands bytes to the target; false when it refused them.
  virtual bool WriteBytes(std::string_view bytes) = 0;
  // Flushes and closes the target; false when either failed or an earlier error remains.
  virtual bool Close() = 0;
  // Subclasses close their target in their own destructor when Finish was never called.
  bool Finished() const { return finished_; }

 private:
  void Fail();

  int64_t written_ = 0;
  bool failed_ = false;
  bool finished_ = false;
};

// ---- Sinks ---------------------------------------------------------------------------------
// Plain bytes to `file`, which the sink owns; no stream buffer of its own, since the merge
// writes whole batches.
std::unique_ptr<OutputSink> MakePlainSink(std::FILE* file);

// Standard output, gzip at `level` or plain as `compress` says (like "gzip -c"), through a
// stream of its own: Finish flushes and closes that stream, so a full disk behind standard
// output is a failure rather than a silent loss. Gzip is compressed on `threads` threads as
// the merged file is (deflate_sink.h). Null when the stream cannot be made.
std::unique_ptr<OutputSink> MakeStandardOutputSink(bool compress, int level, int threads);
