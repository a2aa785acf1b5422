// Fuzzes the input streams: the bytes become a file of any container, which is drained line
// by line as the merge engine does (or is left out, when it holds a container that is not
// read). Checks that the unread data is always NUL-terminated and inside the window, that
// every advance is accepted, that the input ends, and that decoding ahead on a worker thread
// delivers the same bytes and the same failure.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "input/input.h"
#include "input/memory_pool.h"
#include "input/read_ahead.h"

namespace {

// Far more than any input of the fuzzer's sizes can decode to: reaching it means a loop.
constexpr int64_t kMaxDelivered = int64_t{1} << 31;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_input: %s\n", what);
    std::abort();
  }
}

void CheckWindow(const InputFile* in) {
  Require(in->buff_cnt >= 0 && in->buff_pos >= 0, "negative window");
  Require(in->buff_pos + in->buff_cnt < in->buff_size, "window past the buffer");
  Require(in->buff[in->buff_pos + in->buff_cnt] == '\0', "unread data not NUL-terminated");
}

// The length the parser reports for the line at p: through the line end, or up to the NUL
// plus one.
int32_t LineLength(const char* p) {
  const size_t text = std::strlen(p);
  const void* end = std::memchr(p, '\n', text);
  if (end != nullptr) return static_cast<int32_t>(static_cast<const char*>(end) - p + 1);
  return static_cast<int32_t>(text + 1);
}

// What one reading of the input delivered.
struct Drained {
  std::string bytes;
  bool failed;
};

// Opens the bytes, drains the input line by line and closes it; with `crew`, its decoder runs
// ahead on the crew's worker. Null when the input is left out.
bool Drain(std::vector<char>& bytes, WorkCrew* crew, Drained* out) {
  // The bytes as a file in memory, read through its descriptor as any input is.
  FileDescriptor file(memfd_create("fuzz_input", MFD_CLOEXEC));
  if (!file.IsOpen()) return false;
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t n = write(file.Get(), bytes.data() + at, bytes.size() - at);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  lseek(file.Get(), 0, SEEK_SET);
  MemoryPool* pool = MPNew();
  const char* not_read = nullptr;
  const char* damaged = nullptr;
  InputFile* in = INAttach(std::move(file), pool, &not_read, &damaged);
  // An open stream gives an input unless it holds a container that is not read, or a
  // container that is read but damaged beyond reading; then the stream is closed and the
  // reason given.
  Require((in != nullptr) != (not_read != nullptr || damaged != nullptr),
          "no input and no reason given");
  Require(not_read == nullptr || damaged == nullptr, "two reasons given");
  if (in == nullptr) {
    MPDispose(pool);
    return false;
  }
  if (crew != nullptr) INReadAhead(in, *crew);
  CheckWindow(in);
  int64_t delivered = 0;
  while (char* line = INPeek(in)) {
    const int32_t len = LineLength(line);
    Require(len > 0 && len <= in->buff_cnt + 1, "line outside the unread data");
    out->bytes.append(line, static_cast<size_t>(len <= in->buff_cnt ? len : in->buff_cnt));
    // The parser writes into the line.
    line[0] = 'x';
    INAdvance(in, len);
    CheckWindow(in);
    delivered += len;
    Require(delivered < kMaxDelivered, "input does not end");
  }
  Require(in->buff_cnt == 0, "end of input with unread bytes");
  out->failed = in->read_failed != 0;
  INClose(in);
  MPDispose(pool);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool lock_ready = (MPLockInit(), true);
  (void)lock_ready;
  static WorkCrewPtr crew = MakeWorkCrew(1);
  std::vector<char> bytes(data, data + size);
  Drained direct;
  // (An empty file is an input too: it ends at once.)
  if (!Drain(bytes, nullptr, &direct)) return 0;
  // Decoded ahead on a worker thread, the input delivers exactly the same bytes and the same
  // failure after them.
  Drained ahead;
  Require(Drain(bytes, crew.get(), &ahead), "left out only when decoded ahead");
  Require(ahead.bytes == direct.bytes, "decoding ahead changed the bytes delivered");
  Require(ahead.failed == direct.failed, "decoding ahead changed the failure");
  return 0;
}
