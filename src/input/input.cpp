#include "input/input.h"

#include <cstring>

#include "base/check.h"
#include "base/messages.h"
#include "input/decoders.h"

namespace {

// ---- Type detection ------------------------------------------------------------------------

constexpr int32_t kMagicBytes = 16;  // bytes looked at; a shorter file is plain
constexpr int32_t kNoDigit = -1;

// One container: its leading bytes, and the offset of a byte that must be an ASCII digit
// (the pattern holds 0 there).
struct Magic {
  int32_t type;
  int32_t length;
  unsigned char bytes[10];
  int32_t digit_at;
};

// Tried in this order; the first match decides. A match whose decoder cannot start (a zip
// that is no archive, or whose first member cannot be opened) is read as plain text.
constexpr Magic kMagics[] = {
    // gzip: ID1 ID2 and the deflate method
    {IN_GZIP, 3, {0x1F, 0x8B, 0x08}, kNoDigit},
    // bzip2: "BZh", the block-size digit, then the magic of the first block "1AY&SY"
    {IN_BZIP2, 10, {'B', 'Z', 'h', 0, 0x31, 0x41, 0x59, 0x26, 0x53, 0x59}, 3},
    // zip: a local file header
    {IN_ZIP, 4, {'P', 'K', 0x03, 0x04}, kNoDigit},
};

bool Matches(const Magic& m, const unsigned char* head) {
  for (int32_t i = 0; i < m.length; ++i) {
    const bool ok = i == m.digit_at ? head[i] >= '0' && head[i] <= '9' : head[i] == m.bytes[i];
    if (!ok) return false;
  }
  return true;
}

int32_t DetectType(const unsigned char* head, int32_t got) {
  if (got < kMagicBytes) return IN_PLAIN;
  for (const Magic& m : kMagics) {
    if (Matches(m, head)) return m.type;
  }
  return IN_PLAIN;
}

// Starts the decoder of `type` on the stream; false when it cannot be started.
bool OpenDecoder(InputFile* in, int32_t type, MemoryPool* pool) {
  switch (type) {
    case IN_GZIP:
      MPHookGzip(pool);
      in->gz = GzipOpenRead(in->file, pool);
      return in->gz != nullptr;
    case IN_BZIP2:
      MPHookBzip2(pool);
      in->bz = Bzip2OpenRead(in->file, pool);
      return in->bz != nullptr;
    case IN_ZIP:
      in->zip = ZipOpenRead(in->file, pool);
      in->zip_done = 0;
      return in->zip != nullptr;
    default:
      return true;
  }
}

// Notes the position, reads the first bytes and goes back. A stream that cannot go back
// (a pipe) keeps what was read as the start of its plain data.
void Detect(InputFile* in, MemoryPool* pool) {
  unsigned char head[kMagicBytes];
  const long start = std::ftell(in->file);
  const int32_t got = static_cast<int32_t>(std::fread(head, 1, kMagicBytes, in->file));
  std::clearerr(in->file);
  if (start < 0 || std::fseek(in->file, start, SEEK_SET) != 0) {
    std::memcpy(in->buff, head, static_cast<size_t>(got));
    in->buff_cnt = got;
    return;
  }
  const int32_t type = DetectType(head, got);
  if (OpenDecoder(in, type, pool)) {
    in->type = type;
    return;
  }
  // Read as plain from the first byte; the failed decoder may have moved the stream.
  in->gz = nullptr;
  in->bz = nullptr;
  in->zip = nullptr;
  std::clearerr(in->file);
  std::fseek(in->file, start, SEEK_SET);
}

// ---- Refill --------------------------------------------------------------------------------

DecodeResult ReadPlain(InputFile* in, char* out) {
  const size_t n = std::fread(out, 1, IN_CHUNK, in->file);
  return {static_cast<int32_t>(n), std::ferror(in->file) != 0};
}

// Collects up to one chunk from the members of the archive, one after the other. Bytes
// collected before a failing member are kept.
DecodeResult ReadZip(InputFile* in, char* out) {
  DecodeResult total{0, false};
  while (total.count < IN_CHUNK && !in->zip_done) {
    const DecodeResult r = ZipReadMember(in->zip, out + total.count, IN_CHUNK - total.count);
    total.count += r.count;
    if (r.failed) {
      ZipCloseMember(in->zip);
      in->zip_done = 1;
      total.failed = true;
    } else if (r.count == 0) {
      ZipCloseMember(in->zip);
      bool at_end = false;
      if (!ZipNextMember(in->zip, &at_end)) {
        in->zip_done = 1;
        // A member that exists but cannot be read loses data: say so.
        total.failed = !at_end;
      }
    }
  }
  return total;
}

void INFill(InputFile* in, int32_t consumed) {
  in->buff_pos += consumed;
  in->buff_cnt -= consumed;
  if (in->buff_cnt >= IN_MIN_AHEAD || in->at_eof) {
    in->buff[in->buff_pos + in->buff_cnt] = 0;
    return;
  }
  if (in->buff_cnt > 0)
    std::memmove(in->buff, in->buff + in->buff_pos, static_cast<size_t>(in->buff_cnt));
  in->buff_pos = 0;
  char* out = in->buff + in->buff_cnt;
  DecodeResult r{0, false};
  switch (in->type) {
    case IN_PLAIN:
      r = ReadPlain(in, out);
      break;
    case IN_GZIP:
      r = GzipRead(in->gz, out, IN_CHUNK);
      break;
    case IN_BZIP2:
      r = Bzip2Read(in->bz, out, IN_CHUNK);
      break;
    case IN_ZIP:
      r = ReadZip(in, out);
      break;
    default:
      Say("Invalid file type in fill input buffer (%d)!\n", in->type);
      break;
  }
  in->buff_cnt += r.count;
  if (r.failed) Say("Read error on input!\n");
  if (r.failed || r.count == 0) in->at_eof = 1;
  in->buff[in->buff_cnt] = 0;
}

}  // namespace

// ---- Opening and closing ---------------------------------------------------------------------

InputFile* INAttach(std::FILE* file, MemoryPool* pool) {
  if (file == nullptr) return nullptr;
  auto* in = static_cast<InputFile*>(MPAllocAligned(pool, sizeof(InputFile)));
  in->file = file;
  in->gz = nullptr;
  in->bz = nullptr;
  in->zip = nullptr;
  in->type = IN_PLAIN;
  in->buff_cnt = 0;
  in->buff_pos = 0;
  in->at_eof = 0;
  in->zip_done = 1;
  Detect(in, pool);
  INFill(in, 0);
  return in;
}

void INClose(InputFile* in) {
  switch (in->type) {
    case IN_PLAIN:
      std::fclose(in->file);
      break;
    case IN_GZIP:
      GzipCloseRead(in->gz);
      break;
    case IN_BZIP2:
      Bzip2CloseRead(in->bz);
      break;
    case IN_ZIP:
      if (!in->zip_done) ZipCloseMember(in->zip);
      in->zip_done = 1;
      ZipCloseArchive(in->zip);
      std::fclose(in->file);
      break;
    default:
      Say("Invalid file type in INClose!\n");
      break;
  }
}

// ---- Reading -------------------------------------------------------------------------------

char* INPeek(InputFile* in) {
  return in->buff_cnt > 0 ? in->buff + in->buff_pos : nullptr;
}

void INAdvance(InputFile* in, int32_t len) {
  // The report quotes the condition as written.
  // clang-format off
  STITCHER_CHECK("input", len>0 && len<=in->buff_cnt+1);
  // clang-format on
  INFill(in, len > in->buff_cnt ? in->buff_cnt : len);
}
