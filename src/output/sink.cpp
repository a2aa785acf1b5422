#include "output/sink.h"

#include <algorithm>

#include "base/messages.h"
#include "output/deflate_sink.h"
#include "platform/system.h"

bool OutputSink::Write(std::string_view bytes, int64_t entries) {
  if (failed_ || finished_) return false;
  if (!bytes.empty() && !WriteBytes(bytes)) {
    Fail();
    return false;
  }
  written_ += entries;
  return true;
}

std::optional<int64_t> OutputSink::Finish() {
  if (!finished_) {
    finished_ = true;
    if (!Close() && !failed_) Fail();
  }
  if (failed_) return std::nullopt;
  return written_;
}

void OutputSink::Fail() {
  SayFailure("Write error on output file!\n");
  failed_ = true;
}

namespace {

class PlainSink final : public OutputSink {
 public:
  explicit PlainSink(std::FILE* file) : file_(file) {}
  ~PlainSink() override {
    if (!Finished()) std::fclose(file_);
  }

 private:
  bool WriteBytes(std::string_view bytes) override {
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool Close() override {
    // A flush of all streams elsewhere (fflush(nullptr)) may have met an error already and
    // dropped the data; the stream's error flag remembers it.
    const bool clean = std::ferror(file_) == 0;
    return (std::fclose(file_) == 0) && clean;
  }

  std::FILE* file_;
};

}  // namespace

std::unique_ptr<OutputSink> MakePlainSink(std::FILE* file) {
  if (file == nullptr) return nullptr;
  return std::make_unique<PlainSink>(file);
}

std::unique_ptr<OutputSink> MakeStandardOutputSink(bool compress, int level, int threads) {
  // Whatever the program printed there before (nothing, when messages went to standard
  // error from the start) goes out ahead of the merged log.
  std::fflush(stdout);
  std::FILE* file = OpenStandardOutputCopy();
  if (file == nullptr) return nullptr;
  return compress ? MakeDeflateSink(file, level, threads) : MakePlainSink(file);
}
