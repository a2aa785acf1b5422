#include "input/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/signals.h"

namespace {

// One block of decoded bytes. Between fills it belongs to the merge thread (ready) or is
// free; while a fill runs it belongs to that worker alone.
struct Block {
  std::unique_ptr<char[]> data;
  int32_t count = 0;    // bytes decoded into it
  int32_t pos = 0;      // bytes already copied out
  bool ready = false;   // filled and not yet used up
  bool failed = false;  // the decoder failed after these bytes
  bool last = false;    // nothing follows: the end of the input, or its failure
};

}  // namespace

struct ReadAhead {
  DecodeCrew* crew = nullptr;
  DecoderHandle decoder{};
  Block blocks[2];
  int front = 0;          // the block the merge reads from
  int next_fill = 0;      // the block the next fill goes into; fills alternate
  bool busy = false;      // a fill is queued or running
  bool ended = false;     // a filled block was the last one
  bool stopping = false;  // StopReadAhead waits; no new fill starts
  bool done = false;      // the merge has been given the end or the failure
};

class DecodeCrew {
 public:
  explicit DecodeCrew(int threads) {
    const EndingSignalsBlockedForNewThreads main_thread_takes_signals;
    workers_.reserve(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }

  ~DecodeCrew() {
    {
      const std::lock_guard hold(mutex_);
      quit_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  DecodeCrew(const DecodeCrew&) = delete;
  DecodeCrew& operator=(const DecodeCrew&) = delete;

  std::mutex& Mutex() { return mutex_; }
  std::condition_variable& Filled() { return filled_; }

  // Queues the next fill of `ahead` when one may start: none running, the input not at its
  // end, and the block it goes into free. The caller holds the mutex.
  void MaybeFill(ReadAhead* ahead) {
    if (ahead->busy || ahead->ended || ahead->stopping || ahead->blocks[ahead->next_fill].ready)
      return;
    ahead->busy = true;
    queue_.push_back(ahead);
    work_.notify_one();
  }

 private:
  // Decodes into `block` until it is full or the decoder ends or fails.
  static void Fill(const DecoderHandle& decoder, Block& block) {
    block.count = 0;
    block.pos = 0;
    block.failed = false;
    block.last = false;
    while (block.count < READ_AHEAD_BLOCK) {
      const DecodeResult r = decoder.read(decoder.reader, block.data.get() + block.count,
                                          READ_AHEAD_BLOCK - block.count);
      block.count += r.count;
      if (r.failed || r.count == 0) {
        block.failed = r.failed;
        block.last = true;
        return;
      }
    }
  }

  void Work() {
    std::unique_lock hold(mutex_);
    for (;;) {
      work_.wait(hold, [this] { return quit_ || !queue_.empty(); });
      if (queue_.empty()) return;  // quitting, nothing left to do
      ReadAhead* ahead = queue_.front();
      queue_.pop_front();
      if (!ahead->stopping) {
        Block& block = ahead->blocks[ahead->next_fill];
        hold.unlock();
        Fill(ahead->decoder, block);
        hold.lock();
        block.ready = true;
        ahead->ended = block.last;
        ahead->next_fill ^= 1;
      }
      ahead->busy = false;
      MaybeFill(ahead);
      filled_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;    // a fill was queued, or the crew quits
  std::condition_variable filled_;  // a fill finished
  std::deque<ReadAhead*> queue_;
  bool quit_ = false;
  std::vector<std::thread> workers_;
};

DecodeCrewPtr MakeDecodeCrew(int threads) {
  const auto release = [](DecodeCrew* crew) { delete crew; };
  if (threads <= 0) return DecodeCrewPtr{nullptr, release};
  return DecodeCrewPtr{new DecodeCrew(threads), release};
}

ReadAhead* StartReadAhead(DecodeCrew& crew, DecoderHandle decoder) {
  auto* ahead = new (std::nothrow) ReadAhead;
  if (ahead == nullptr) return nullptr;
  for (Block& block : ahead->blocks) {
    block.data.reset(new (std::nothrow) char[READ_AHEAD_BLOCK]);
    if (block.data == nullptr) {
      delete ahead;
      return nullptr;
    }
  }
  ahead->crew = &crew;
  ahead->decoder = decoder;
  const std::lock_guard hold(crew.Mutex());
  crew.MaybeFill(ahead);
  return ahead;
}

DecodeResult ReadAheadRead(ReadAhead* ahead, char* out, int32_t want) {
  DecodeCrew& crew = *ahead->crew;
  std::unique_lock hold(crew.Mutex());
  for (;;) {
    if (ahead->done || want <= 0) return DecodeResult{0, false};
    Block& block = ahead->blocks[ahead->front];
    if (!block.ready) {
      crew.Filled().wait(hold);
      continue;
    }
    if (block.pos < block.count) {
      const int32_t n = std::min(want, block.count - block.pos);
      std::memcpy(out, block.data.get() + block.pos, static_cast<size_t>(n));
      block.pos += n;
      const bool last_bytes = block.pos == block.count && block.last;
      ahead->done = last_bytes;
      return DecodeResult{n, last_bytes && block.failed};
    }
    if (block.last) {
      ahead->done = true;
      return DecodeResult{0, block.failed};
    }
    // Used up: the block is free for the next fill, and the other one is read next.
    block.ready = false;
    ahead->front ^= 1;
    crew.MaybeFill(ahead);
  }
}

void StopReadAhead(ReadAhead* ahead) {
  DecodeCrew& crew = *ahead->crew;
  {
    std::unique_lock hold(crew.Mutex());
    ahead->stopping = true;
    crew.Filled().wait(hold, [ahead] { return !ahead->busy; });
  }
  delete ahead;
}
