#pragma once
// Runs the built program in a directory and captures what it prints, for end-to-end tests.

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_support {

struct ProgramRun {
  int status = -1;      // exit status
  std::string console;  // everything the program printed on standard output
};

inline std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// Runs `program` with `args` in `directory`, standard input from /dev/null.
inline ProgramRun RunProgram(const std::string& program, const std::filesystem::path& directory,
                             const std::vector<std::string>& args) {
  // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict overlap for
  // "literal" + <temporary std::string>.
  std::string command = "cd ";
  command += ShellQuote(directory.string());
  command += " && ";
  command += ShellQuote(program);
  for (const auto& a : args) {
    command += ' ';
    command += ShellQuote(a);
  }
  command += " </dev/null 2>&1";
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    run.console.append(buffer.data(), n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

#ifdef STITCHER_BINARY
// Runs the stitcher program built with the tests.
inline ProgramRun RunStitcher(const std::filesystem::path& directory,
                              const std::vector<std::string>& args) {
  return RunProgram(STITCHER_BINARY, directory, args);
}
#endif

// A fresh empty directory under the test temporary directory. The process id keeps tests
// that ctest runs in parallel (one process each) out of each other's way.
inline std::filesystem::path FreshDirectory(const std::string& name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("stitcher-test-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace testing_support
