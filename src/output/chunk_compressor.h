#pragma once
// One chunk of the merged log, one gzip member: the compressor that the threaded gzip sink
// runs on each of its threads, and the table that turns a gzip level into libdeflate's.
// Members written one after another form a standard multi-member gzip file, which gzip,
// zcat, zlib's gzread and Python's gzip module read whole.

#include <array>
#include <memory>
#include <string_view>
#include <vector>

// ---- Levels --------------------------------------------------------------------------------
// How a gzip level (0..9, as `-L<digit>` and `level` give it) is carried out. At each level
// 1..9 the libdeflate level is the cheapest one whose output, in the threaded sink's members,
// was no larger than `gzip -<level>` of the same merged log (NCSA and WebSTAR merged logs of
// the benchmark corpus, bench/level_table.sh); 0 stores. The extra-flags byte of each member's
// header says what zlib would say: 2 for the slowest level, 4 for the fastest.
struct MemberLevel {
  int gzip_level;
  int deflate_level;  // libdeflate's scale, 0..12
  unsigned char extra_flags;
};

inline constexpr std::array<MemberLevel, 10> kMemberLevels = {{
    {0, 0, 4},  // stored
    {1, 1, 4},
    {2, 1, 0},
    {3, 3, 0},
    {4, 4, 0},
    {5, 5, 0},
    {6, 6, 0},
    {7, 6, 0},
    {8, 7, 0},
    {9, 7, 2},  // the default
}};

// The row for `gzip_level`, clamped to 0..9.
const MemberLevel& MemberLevelFor(int gzip_level);

// ---- The member compressor -------------------------------------------------------------------
// One libdeflate compressor and its settings. Not shared between threads: each thread that
// compresses owns one.
class MemberCompressor {
 public:
  // Null when libdeflate cannot set up a compressor at `level.deflate_level`.
  static std::unique_ptr<MemberCompressor> Make(const MemberLevel& level);
  ~MemberCompressor();
  MemberCompressor(const MemberCompressor&) = delete;
  MemberCompressor& operator=(const MemberCompressor&) = delete;

  // Replaces `member` with one whole gzip member (header, deflate data, CRC-32 and length)
  // holding `chunk`; an empty chunk gives an empty member, which is still valid gzip.
  // `member` keeps its capacity between calls, so a reused buffer allocates once.
  void Compress(std::string_view chunk, std::vector<unsigned char>& member);

 private:
  struct Impl;
  explicit MemberCompressor(Impl* impl) : impl_(impl) {}
  Impl* impl_;
};
