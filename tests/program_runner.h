#pragma once
// Runs the built program in a directory and captures what it prints, for end-to-end tests.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct ProgramRun {
  int status = -1;      // exit status
  std::string console;  // everything the program printed (standard error only, when the
                        // standard output was captured apart)
  std::string output;   // standard output, when captured apart
};

// How a run is wired up.
struct RunOptions {
  std::string stdin_path = "/dev/null";  // standard input comes from this file
  bool separate_output = false;          // capture standard output apart from the console
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

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The lines of a text, without their LF; a last line without one counts too.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The text of a whole gzip file, every member of it (the merged log is several members), or
// what could be read plus a marker when the data is damaged or cut short, so a comparison
// fails visibly.
inline std::string Gunzip(const std::string& bytes) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return "<no inflate>";
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  char buffer[16384];
  int rc = Z_OK;
  for (;;) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
    if (rc == Z_STREAM_END && z.avail_in > 0) {
      rc = inflateReset(&z);  // the next member
    }
    if (rc != Z_OK) break;
  }
  const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole ? out : out + "<damaged or incomplete gzip data>";
}

// Runs `program` with `args` in `directory`.
inline ProgramRun RunProgram(const std::string& program, const std::filesystem::path& directory,
                             const std::vector<std::string>& args, const RunOptions& options = {}) {
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
  command += " <";
  command += ShellQuote(options.stdin_path);
  // The standard output file lives beside the working directory, not in it, so the run
  // never sees it as a file of its own.
  const std::filesystem::path output_file = directory.string() + ".stdout";
  if (options.separate_output) {
    command += " 2>&1 >";
    command += ShellQuote(output_file.string());
  } else {
    command += " 2>&1";
  }
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    run.console.append(buffer.data(), n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (options.separate_output) {
    run.output = ReadFile(output_file);
    std::filesystem::remove(output_file);
  }
  return run;
}

#ifdef STITCHER_BINARY
// Runs the stitcher program built with the tests.
inline ProgramRun RunStitcher(const std::filesystem::path& directory,
                              const std::vector<std::string>& args,
                              const RunOptions& options = {}) {
  return RunProgram(STITCHER_BINARY, directory, args, options);
}
#endif

// ---- A program running beside the test ----------------------------------------------------
// A child process started with StartProgram; WaitProgram gives its end.
struct RunningProgram {
  pid_t pid = -1;
};

// Starts `program` with `args` in `directory`: standard input from `stdin_fd` (/dev/null
// when -1), standard output and error into `console_file`. `prepare` runs in the child just
// before the program replaces it (a limit to lower, a terminal to take).
template <typename Prepare>
RunningProgram StartProgram(const std::string& program, const std::filesystem::path& directory,
                            const std::vector<std::string>& args,
                            const std::filesystem::path& console_file, int stdin_fd,
                            Prepare prepare) {
  // Everything that allocates happens before the fork: the test may have other threads.
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  RunningProgram running;
  running.pid = fork();
  if (running.pid != 0) return running;
  const int in = stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY);
  const int out = open(console_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || chdir(directory.c_str()) != 0) _exit(120);
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(out, STDERR_FILENO);
  prepare();
  execv(argv[0], argv.data());
  _exit(121);
}

// Waits for the program to end: its exit status, or 1000 + the signal that killed it.
inline int WaitProgram(RunningProgram& running) {
  int raw = 0;
  if (running.pid <= 0 || waitpid(running.pid, &raw, 0) != running.pid) return -1;
  running.pid = -1;
  if (WIFSIGNALED(raw)) return 1000 + WTERMSIG(raw);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// What WaitProgramFor gives for a program that did not end in time (it is killed then).
inline constexpr int kProgramHung = -2;

// As WaitProgram, waiting at most `seconds`.
inline int WaitProgramFor(RunningProgram& running, int seconds) {
  for (int tries = 0; tries < seconds * 200; ++tries) {
    int raw = 0;
    if (waitpid(running.pid, &raw, WNOHANG) == running.pid) {
      running.pid = -1;
      if (WIFSIGNALED(raw)) return 1000 + WTERMSIG(raw);
      return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    usleep(5000);
  }
  kill(running.pid, SIGKILL);
  WaitProgram(running);
  return kProgramHung;
}

// A FIFO that the test feeds: `head` at once, then `tail` and the end of the data only on
// Release, so that a program reading it is held in the middle of its work for as long as
// the test needs. The test's own descriptor is opened for reading and writing, so nothing
// waits for the reader to come, and writing never blocks the test for good.
class FifoFeeder {
 public:
  FifoFeeder(const std::filesystem::path& path, std::string head, std::string tail)
      : tail_(std::move(tail)) {
    mkfifo(path.c_str(), 0644);
    fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    thread_ = std::thread([this, head = std::move(head)] {
      if (!Feed(head)) return;
      while (!released_ && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (stop_ || !Feed(tail_)) return;
      close(fd_);
      closed_ = true;
    });
  }
  ~FifoFeeder() {
    stop_ = true;
    thread_.join();
    if (!closed_ && fd_ >= 0) close(fd_);
  }
  bool Opened() const { return fd_ >= 0; }
  // Writes the tail and ends the data.
  void Release() { released_ = true; }

 private:
  // Writes all of `bytes` unless told to stop; a full pipe is waited on in short steps.
  bool Feed(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size() && !stop_) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd wait{fd_, POLLOUT, 0};
        poll(&wait, 1, 20);
      }
    }
    return done == bytes.size();
  }

  std::string tail_;
  int fd_ = -1;
  std::atomic<bool> closed_{false};
  std::atomic<bool> released_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Waits up to `seconds` for `condition`; true when it came.
template <typename Condition>
bool WaitUntil(Condition condition, int seconds = 30) {
  for (int tries = 0; tries < seconds * 200; ++tries) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// The partial files a run leaves in `directory` (names holding ".partial").
inline std::vector<std::string> PartialFilesIn(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".partial") != std::string::npos) names.push_back(name);
  }
  return names;
}

// A fresh empty directory under the test temporary directory. The process id keeps tests
// that ctest runs in parallel (one process each) out of each other's way.
inline std::filesystem::path FreshDirectory(const std::string& name) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("stitcher-test-" + name + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// `count` NCSA common log lines of client 10.0.0.`host`, one a second from `first_second`
// on, each asking for "/h<host>/<n>".
inline std::string AccessLines(int host, int count, int first_second) {
  std::string text;
  char line[160];
  for (int i = 0; i < count; ++i) {
    const int t = first_second + i;
    std::snprintf(line, sizeof line,
                  "10.0.0.%d - - [05/Mar/2001:%02d:%02d:%02d -0500] \"GET /h%d/%d HTTP/1.0\" "
                  "200 %d\n",
                  host, t / 3600 % 24, t / 60 % 60, t % 60, host, i, i);
    text += line;
  }
  return text;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

}  // namespace testing_support
