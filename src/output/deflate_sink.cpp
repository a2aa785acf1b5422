#include "output/deflate_sink.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/resource_limits.h"
#include "output/chunk_compressor.h"
#include "platform/signals.h"

namespace {

// One place in the ring of chunks. The thread that fills it (the caller's) and the thread
// that compresses it never touch it at once: `done` and the sink's counters, under the
// sink's mutex, say whose turn it is.
struct Chunk {
  std::vector<char> text;             // merged-log bytes, at most kDeflateChunkSize
  std::vector<unsigned char> member;  // the gzip member, once compressed
  bool done = false;                  // compressed and not yet written (under the mutex)
};

class DeflateSink final : public OutputSink {
 public:
  DeflateSink(std::FILE* file, std::vector<std::unique_ptr<MemberCompressor>> compressors)
      : file_(file),
        compressors_(std::move(compressors)),
        chunks_(compressors_.size() + kDeflateSpareChunks) {}

  ~DeflateSink() override {
    StopThreads();
    if (!file_closed_) std::fclose(file_);
  }

  // Starts one thread per compressor, or as many as the system lets start. Fewer threads
  // than asked only make the sink slower, and with none the caller's thread compresses each
  // chunk as it is submitted: the bytes are the same.
  void StartThreads() {
    const EndingSignalsBlockedForNewThreads main_thread_takes_signals;
    for (auto& compressor : compressors_) {
      try {
        threads_.emplace_back([this, c = compressor.get()] { Work(*c); });
      } catch (const std::system_error&) {
        break;
      }
    }
    NoteThreadsStarted(static_cast<int>(compressors_.size()), static_cast<int>(threads_.size()));
  }

 private:
  bool WriteBytes(std::string_view bytes) override {
    while (!bytes.empty() && !write_failed_) {
      Chunk& chunk = Filling();
      if (chunk.text.capacity() < kDeflateChunkSize) chunk.text.reserve(kDeflateChunkSize);
      const size_t take = std::min(bytes.size(), kDeflateChunkSize - chunk.text.size());
      chunk.text.insert(chunk.text.end(), bytes.data(), bytes.data() + take);
      bytes.remove_prefix(take);
      if (chunk.text.size() == kDeflateChunkSize) {
        Submit();
        WriteFinished(/*all=*/false);
      }
    }
    return !write_failed_;
  }

  bool Close() override {
    if (!write_failed_) {
      // The last chunk may be partly filled; an empty log still gets one (empty) member,
      // since a file of no bytes at all is not gzip.
      if (!Filling().text.empty() || submitted_ == 0) Submit();
      WriteFinished(/*all=*/true);
    }
    StopThreads();
    bool ok = !write_failed_ && std::fflush(file_) == 0 && std::ferror(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_closed_ = true;
    return ok;
  }

  Chunk& At(uint64_t number) { return chunks_[number % chunks_.size()]; }

  // The chunk the caller fills: number submitted_, whose place WriteFinished has freed.
  Chunk& Filling() { return At(submitted_); }

  // Hands the filled chunk to the threads, or compresses it here when there are none.
  void Submit() {
    if (threads_.empty()) {
      Chunk& chunk = Filling();
      compressors_.front()->Compress(std::string_view(chunk.text.data(), chunk.text.size()),
                                     chunk.member);
      chunk.done = true;
      ++taken_;
      ++submitted_;
      return;
    }
    {
      std::lock_guard lock(mutex_);
      Filling().done = false;
      ++submitted_;
    }
    work_.notify_one();
  }

  // Writes compressed chunks in order. With `all`, every submitted chunk; otherwise those
  // already finished, waiting only while the ring is full, so that the next chunk to fill
  // has its place. Stops at the first refused write.
  void WriteFinished(bool all) {
    while (chunks_written_ < submitted_ && !write_failed_) {
      Chunk& oldest = At(chunks_written_);
      const bool must_wait = all || submitted_ - chunks_written_ >= chunks_.size();
      {
        std::unique_lock lock(mutex_);
        if (!oldest.done) {
          if (!must_wait) break;
          compressed_.wait(lock, [&] { return oldest.done; });
        }
      }
      const std::vector<unsigned char>& member = oldest.member;
      if (std::fwrite(member.data(), 1, member.size(), file_) != member.size()) {
        write_failed_ = true;
        break;
      }
      oldest.text.clear();
      ++chunks_written_;
    }
  }

  // A compressing thread: takes chunks in order until told to stop.
  void Work(MemberCompressor& compressor) {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stop_ || taken_ < submitted_; });
      if (stop_) return;
      Chunk& chunk = At(taken_++);
      lock.unlock();
      compressor.Compress(std::string_view(chunk.text.data(), chunk.text.size()), chunk.member);
      lock.lock();
      chunk.done = true;
      compressed_.notify_one();
    }
  }

  // Stops and joins the threads; a chunk being compressed is finished first, chunks not yet
  // begun are dropped (they are only left when a write failed or the sink is dropped).
  void StopThreads() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

  std::FILE* file_;
  bool file_closed_ = false;
  std::vector<std::unique_ptr<MemberCompressor>> compressors_;  // one per thread
  std::vector<Chunk> chunks_;  // the ring: chunk number n lives in chunks_[n % size]
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable work_;        // a chunk was submitted, or the threads must stop
  std::condition_variable compressed_;  // a chunk was compressed
  // Written under the mutex; submitted_ only by the caller's thread, which also reads it
  // without the lock.
  uint64_t submitted_ = 0;  // chunks handed to the threads; the number of the one filling
  uint64_t taken_ = 0;      // chunks a thread has begun
  bool stop_ = false;

  // The caller's thread alone.
  uint64_t chunks_written_ = 0;  // chunks written to the file, in order
  bool write_failed_ = false;    // the file refused a write; nothing more is written
};

}  // namespace

int DefaultDeflateThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMostDeflateThreads));
}

std::unique_ptr<OutputSink> MakeDeflateSink(std::FILE* file, int level, int threads) {
  if (file == nullptr) return nullptr;
  const int count = threads <= 0 ? DefaultDeflateThreads() : std::min(threads, kMostDeflateThreads);
  std::vector<std::unique_ptr<MemberCompressor>> compressors;
  // A compressor the memory does not allow means one thread fewer: the bytes are the same.
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<MemberCompressor> compressor = MemberCompressor::Make(MemberLevelFor(level));
    if (compressor == nullptr) break;
    compressors.push_back(std::move(compressor));
  }
  if (compressors.empty()) {
    std::fclose(file);
    return nullptr;
  }
  if (static_cast<int>(compressors.size()) < count) {
    // Memory ran short: half of them leave room for the chunks they compress.
    NoteThreadsStarted(count, static_cast<int>(compressors.size() + 1) / 2);
    compressors.resize((compressors.size() + 1) / 2);
  }
  auto sink = std::make_unique<DeflateSink>(file, std::move(compressors));
  sink->StartThreads();
  return sink;
}
