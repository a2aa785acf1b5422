#include "output/append_sink.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "output/chunk_compressor.h"
#include "platform/system.h"

namespace {

class AppendingSink final : public OutputSink {
 public:
  AppendingSink(std::FILE* file, std::unique_ptr<MemberCompressor> compressor)
      : file_(file), compressor_(std::move(compressor)) {}
  ~AppendingSink() override {
    if (!Finished()) std::fclose(file_);
  }

 private:
  bool WriteBytes(std::string_view bytes) override {
    if (compressor_ != nullptr) {
      compressor_->Compress(bytes, member_);
      bytes = std::string_view(reinterpret_cast<const char*>(member_.data()), member_.size());
    }
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() &&
           std::fflush(file_) == 0;
  }
  bool Close() override {
    const bool clean = std::ferror(file_) == 0;
    return (std::fclose(file_) == 0) && clean;
  }

  std::FILE* file_;
  std::unique_ptr<MemberCompressor> compressor_;  // null: plain text
  std::vector<unsigned char> member_;             // the latest batch as a gzip member
};

}  // namespace

std::unique_ptr<OutputSink> OpenAppendingSink(const char* path, bool compress, int level,
                                              bool& empty) {
  empty = true;
  std::unique_ptr<MemberCompressor> compressor;
  if (compress) {
    compressor = MemberCompressor::Make(MemberLevelFor(level));
    if (compressor == nullptr) return nullptr;
  }
  std::FILE* file = path == nullptr ? OpenStandardOutputCopy() : std::fopen(path, "ab");
  if (file == nullptr) return nullptr;
  if (path != nullptr && std::fseek(file, 0, SEEK_END) == 0) empty = std::ftell(file) == 0;
  return std::make_unique<AppendingSink>(file, std::move(compressor));
}
