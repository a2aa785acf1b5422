#include "output/gzip_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <string>

namespace {

std::string ReadGzip(const std::string& path) {
  gzFile in = gzopen(path.c_str(), "rb");
  std::string text;
  char buffer[4096];
  int n;
  while ((n = gzread(in, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  gzclose(in);
  return text;
}

TEST(GzipWriter, WritesAGzipFileThatZlibReadsBack) {
  const std::string path =
      ::testing::TempDir() + "gzip_writer_roundtrip_" + std::to_string(getpid()) + ".gz";
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "line " + std::to_string(i) + "\r";
  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(level);
    GzipWriter* w = GzipOpenWrite(std::fopen(path.c_str(), "wb"), level);
    ASSERT_NE(w, nullptr);
    // Many small writes, as the merge does, one line at a time.
    size_t at = 0;
    while (at < expected.size()) {
      const int len = static_cast<int>(std::min<size_t>(37, expected.size() - at));
      ASSERT_EQ(GzipWrite(w, expected.data() + at, len), len);
      at += static_cast<size_t>(len);
    }
    ASSERT_TRUE(GzipClose(w));
    EXPECT_EQ(ReadGzip(path), expected);
  }
  std::remove(path.c_str());
}

TEST(GzipWriter, AFailingDeviceIsReportedAtWriteOrClose) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  GzipWriter* w = GzipOpenWrite(full, 0);
  ASSERT_NE(w, nullptr);
  std::string line(1000, 'x');
  bool write_failed = false;
  for (int i = 0; i < 200 && !write_failed; ++i) {
    write_failed =
        GzipWrite(w, line.data(), static_cast<int>(line.size())) != static_cast<int>(line.size());
  }
  // Whether the loss shows at a write or only when the buffers are flushed, it shows.
  const bool closed_ok = GzipClose(w);
  EXPECT_TRUE(write_failed || !closed_ok);
  EXPECT_FALSE(closed_ok);
}

}  // namespace
