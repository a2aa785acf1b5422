// Sizes and times of a merged log compressed as the threaded gzip sink does (members of
// kDeflateChunkSize bytes),
// at libdeflate levels 0..9, on one thread. bench/level_table.sh compares them with gzip's.
//
//   level_table FILE...      prints "file level bytes seconds" per line

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "output/chunk_compressor.h"
#include "output/deflate_sink.h"

// Levels 10..12 take ten times level 9's time for a percent or two, too slow for the table.
constexpr int kMaxLevel = 9;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: level_table FILE...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int level = 0; level <= kMaxLevel; ++level) {
      auto compressor = MemberCompressor::Make(MemberLevel{-1, level, 0});
      if (compressor == nullptr) return 1;
      std::vector<unsigned char> member;
      size_t total = 0;
      const auto start = std::chrono::steady_clock::now();
      for (size_t at = 0; at < text.size(); at += kDeflateChunkSize) {
        compressor->Compress(std::string_view(text).substr(at, kDeflateChunkSize), member);
        total += member.size();
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      std::printf("%s %d %zu %.3f\n", argv[i], level, total, took.count());
    }
  }
  return 0;
}
