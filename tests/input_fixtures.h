#pragma once
// Inputs for the tests of the input module: numbered lines, a temporary file holding given
// bytes, open through a descriptor at its start as the merge opens a log, and a pipe.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/descriptor.h"

namespace testing_support {

// `count` lines "<prefix><n>\n", n from 0.
inline std::string NumberedLines(int count, const std::string& prefix = "line ") {
  std::string text;
  for (int i = 0; i < count; ++i) text += prefix + std::to_string(i) + "\n";
  return text;
}

// A temporary file holding `bytes`, open at its start.
inline FileDescriptor StreamOf(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return FileDescriptor();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  FileDescriptor file = DuplicateDescriptor(fileno(f));
  std::fclose(f);
  if (file.IsOpen()) lseek(file.Get(), 0, SEEK_SET);
  return file;
}

// A pipe whose other end a thread fills with `bytes` and then closes.
inline FileDescriptor PipeOf(const std::string& bytes) {
  int ends[2];
  if (pipe(ends) != 0) return FileDescriptor();
  std::thread([fd = ends[1], bytes] {
    size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    close(fd);
  }).detach();
  return FileDescriptor(ends[0]);
}

}  // namespace testing_support
