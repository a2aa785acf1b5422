#include "driver/same_content.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/messages.h"
#include "input/input.h"
#include "input/memory_pool.h"
#include "output/duplicate_lines.h"
#include "platform/descriptor.h"

namespace {

constexpr size_t kEdgeBytes = 64 << 10;            // hashed at each end of a file
constexpr size_t kCompareBlock = size_t{1} << 20;  // compared at a time when confirming

// A gzip file is a twin's candidate by the decoded size its trailer states (ISIZE: the last
// member's decoded size modulo 2^32, the whole file's for the single member gzip and
// logrotate write); any other file by its own size, taken as decoded text. A candidate is
// only ever confirmed by its decoded bytes, so a wrong guess costs a comparison, never an
// entry.
constexpr size_t kGzipTrailer = 8;  // CRC-32 and ISIZE

struct Candidate {
  FileFacts facts;
  bool fingerprinted = false;
  bool readable = false;
  uint64_t fingerprint = 0;
  bool sized = false;    // the head and trailer below were read
  bool gzip = false;     // the file starts with gzip's magic bytes
  uint32_t decoded = 0;  // the decoded size modulo 2^32 it suggests
};

// Reads `want` bytes at `offset` whole; false on an error or a short file.
bool ReadWhole(int fd, char* out, size_t want, int64_t offset) {
  while (want > 0) {
    const int64_t got = ReadAt(fd, out, want, offset);
    if (got <= 0) return false;
    out += got;
    want -= static_cast<size_t>(got);
    offset += got;
  }
  return true;
}

// The hash of the first and the last kEdgeBytes of a file of `size` bytes.
bool Fingerprint(const char* path, int64_t size, uint64_t& fingerprint) {
  const FileDescriptor file = OpenForReading(path);
  if (!file.IsOpen()) return false;
  const size_t edge = static_cast<size_t>(std::min<int64_t>(size, kEdgeBytes));
  std::string bytes(2 * edge, '\0');
  if (!ReadWhole(file.Get(), bytes.data(), edge, 0) ||
      !ReadWhole(file.Get(), bytes.data() + edge, edge, size - static_cast<int64_t>(edge))) {
    return false;
  }
  fingerprint = LineHash(bytes);
  return true;
}

// Compares two files of `size` bytes whole.
bool SameBytes(const char* a, const char* b, int64_t size) {
  const FileDescriptor first = OpenForReading(a);
  const FileDescriptor second = OpenForReading(b);
  if (!first.IsOpen() || !second.IsOpen()) return false;
  std::string one(kCompareBlock, '\0');
  std::string other(kCompareBlock, '\0');
  for (int64_t offset = 0; offset < size;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(size - offset, kCompareBlock));
    if (!ReadWhole(first.Get(), one.data(), want, offset) ||
        !ReadWhole(second.Get(), other.data(), want, offset) ||
        std::memcmp(one.data(), other.data(), want) != 0) {
      return false;
    }
    offset += static_cast<int64_t>(want);
  }
  return true;
}

// Reads whether `name` is gzip and the decoded size it suggests; false when unreadable.
bool EnsureDecodedSize(Candidate& c, const std::string& name) {
  if (c.sized) return true;
  const FileDescriptor file = OpenForReading(name.c_str());
  unsigned char head[2] = {};
  unsigned char trailer[kGzipTrailer] = {};
  if (!file.IsOpen() || !ReadWhole(file.Get(), reinterpret_cast<char*>(head), sizeof head, 0)) {
    return false;
  }
  c.gzip = head[0] == 0x1F && head[1] == 0x8B && c.facts.size >= 18 &&
           ReadWhole(file.Get(), reinterpret_cast<char*>(trailer), sizeof trailer,
                     c.facts.size - static_cast<int64_t>(sizeof trailer));
  c.decoded = c.gzip ? static_cast<uint32_t>(trailer[4] | trailer[5] << 8 | trailer[6] << 16 |
                                             static_cast<uint32_t>(trailer[7]) << 24)
                     : static_cast<uint32_t>(c.facts.size);
  c.sized = true;
  return true;
}

// The memory pool of one comparison, given back whole at its end.
struct PoolGuard {
  MemoryPool* pool = MPNew();
  PoolGuard() = default;
  PoolGuard(const PoolGuard&) = delete;
  PoolGuard& operator=(const PoolGuard&) = delete;
  ~PoolGuard() { MPDispose(pool); }
};

// Compares the decoded content of two inputs (any container the merge reads) whole, in the
// pieces their windows hold. Not the same when either cannot be read to its end or passes
// over a line too long to merge: both are then merged, and the merge says why.
bool SameDecoded(const char* a, const char* b) {
  const PoolGuard guard;
  InputFile* one = INAttach(OpenForReading(a), guard.pool);
  InputFile* other = INAttach(OpenForReading(b), guard.pool);
  bool same = one != nullptr && other != nullptr;
  while (same) {
    const char* p = INPeek(one);
    const char* q = INPeek(other);
    if (p == nullptr || q == nullptr) {
      same = p == q;
      break;
    }
    const int32_t n = std::min(one->buff_cnt, other->buff_cnt);
    same = std::memcmp(p, q, static_cast<size_t>(n)) == 0;
    INAdvance(one, n);
    INAdvance(other, n);
  }
  for (InputFile* in : {one, other}) {
    if (in == nullptr) continue;
    same = same && in->read_failed == 0 && in->lines_dropped == 0;
    INClose(in);
  }
  return same;
}

// Whether the decoded contents of `a` and `b` may be alike when at least one is gzip.
bool DecodedTwinCandidates(Candidate& a, const std::string& a_name, Candidate& b,
                           const std::string& b_name) {
  return EnsureDecodedSize(a, a_name) && EnsureDecodedSize(b, b_name) && (a.gzip || b.gzip) &&
         a.decoded == b.decoded;
}

bool EnsureFingerprint(Candidate& c, const std::string& name) {
  if (!c.fingerprinted) {
    c.fingerprinted = true;
    c.readable = Fingerprint(name.c_str(), c.facts.size, c.fingerprint);
  }
  return c.readable;
}

}  // namespace

std::vector<bool> SameContentAsEarlier(const std::vector<std::string>& names) {
  std::vector<bool> left_out(names.size(), false);
  std::vector<Candidate> candidates(names.size());
  for (size_t i = 0; i < names.size(); ++i) candidates[i].facts = FactsOfPath(names[i].c_str());
  for (size_t later = 1; later < names.size(); ++later) {
    Candidate& b = candidates[later];
    if (!b.facts.known || !b.facts.regular || b.facts.size == 0) continue;
    for (size_t earlier = 0; earlier < later; ++earlier) {
      Candidate& a = candidates[earlier];
      if (left_out[earlier] || !a.facts.known || !a.facts.regular || a.facts.size == 0) continue;
      const bool same =
          (a.facts.size == b.facts.size &&
           (IsSameFile(a.facts, b.facts) ||
            (EnsureFingerprint(a, names[earlier]) && EnsureFingerprint(b, names[later]) &&
             a.fingerprint == b.fingerprint &&
             SameBytes(names[earlier].c_str(), names[later].c_str(), a.facts.size)))) ||
          (DecodedTwinCandidates(a, names[earlier], b, names[later]) &&
           SameDecoded(names[earlier].c_str(), names[later].c_str()));
      if (!same) continue;
      left_out[later] = true;
      SayInfo("'%s' has the same content as '%s'; merged once.\n",
              EscapedName(names[later]).c_str(), EscapedName(names[earlier]).c_str());
      break;
    }
  }
  return left_out;
}
