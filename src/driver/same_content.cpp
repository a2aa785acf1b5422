#include "driver/same_content.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/messages.h"
#include "output/duplicate_lines.h"
#include "platform/descriptor.h"

namespace {

constexpr size_t kEdgeBytes = 64 << 10;            // hashed at each end of a file
constexpr size_t kCompareBlock = size_t{1} << 20;  // compared at a time when confirming

struct Candidate {
  FileFacts facts;
  bool fingerprinted = false;
  bool readable = false;
  uint64_t fingerprint = 0;
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
      if (left_out[earlier] || !a.facts.known || !a.facts.regular || a.facts.size != b.facts.size) {
        continue;
      }
      const bool same = IsSameFile(a.facts, b.facts) ||
                        (EnsureFingerprint(a, names[earlier]) &&
                         EnsureFingerprint(b, names[later]) && a.fingerprint == b.fingerprint &&
                         SameBytes(names[earlier].c_str(), names[later].c_str(), a.facts.size));
      if (!same) continue;
      left_out[later] = true;
      SayInfo("'%s' has the same content as '%s'; merged once.\n",
              EscapedName(names[later]).c_str(), EscapedName(names[earlier]).c_str());
      break;
    }
  }
  return left_out;
}
