// Where the merged log goes when the chosen path is not a plain file, with the real program:
// a character device, a FIFO or a socket (or a symlink to one) is written in place and
// stays what it was; a symlink to a file has the link replaced, never the file it names; a
// directory or a block device is refused before anything is read. A reader that closes the
// output pipe early ends the run quietly, as it ends `cat`.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "program_runner.h"

#ifdef STITCHER_BINARY

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr const char* kLogA =
    "10.0.0.1 - - [05/Mar/2001:10:00:00 -0500] \"GET /a/1 HTTP/1.0\" 200 11\n"
    "10.0.0.1 - - [05/Mar/2001:10:00:02 -0500] \"GET /a/2 HTTP/1.0\" 200 12\n";
constexpr const char* kLogB =
    "10.0.0.2 - - [05/Mar/2001:10:00:01 -0500] \"GET /b/1 HTTP/1.0\" 404 21\n";

// What the path is now, links not followed, as a short word.
std::string NodeType(const fs::path& path) {
  struct stat facts {};
  if (lstat(path.c_str(), &facts) != 0) return "missing";
  if (S_ISLNK(facts.st_mode)) return "symlink";
  if (S_ISCHR(facts.st_mode)) return "character device";
  if (S_ISFIFO(facts.st_mode)) return "fifo";
  if (S_ISSOCK(facts.st_mode)) return "socket";
  if (S_ISREG(facts.st_mode)) return "file";
  if (S_ISDIR(facts.st_mode)) return "directory";
  return "other";
}

// Reads everything written into the FIFO `path` on a thread of its own.
class FifoReader {
 public:
  explicit FifoReader(const fs::path& path) : path_(path) {
    mkfifo(path.c_str(), 0600);
    thread_ = std::thread([this, path] {
      std::FILE* in = std::fopen(path.c_str(), "rb");  // waits for the writer
      if (in == nullptr) return;
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text_.append(buffer, n);
      std::fclose(in);
    });
  }
  // What was read. A reader still waiting for a writer (the run never opened the FIFO) is
  // released with an empty text.
  std::string Take() {
    const int release = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
    if (release >= 0) close(release);
    thread_.join();
    return text_;
  }

 private:
  fs::path path_;
  std::string text_;
  std::thread thread_;
};

// Listens on the Unix socket `path` and reads what the first connection sends.
class SocketReader {
 public:
  explicit SocketReader(const fs::path& path) {
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    listening_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 listen(listener_, 1) == 0;
    thread_ = std::thread([this] {
      const int connection = listening_ ? accept(listener_, nullptr, nullptr) : -1;
      if (connection < 0) return;
      char buffer[4096];
      ssize_t n;
      while ((n = read(connection, buffer, sizeof buffer)) > 0) {
        text_.append(buffer, static_cast<size_t>(n));
      }
      close(connection);
    });
  }
  ~SocketReader() { close(listener_); }
  bool Listening() const { return listening_; }
  // What was read; a listener nobody connected to gives up with an empty text.
  std::string Take() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    return text_;
  }

 private:
  int listener_ = -1;
  bool listening_ = false;
  std::string text_;
  std::thread thread_;
};

class OutputDestinations : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = FreshDirectory("output-destinations");
    WriteFile(dir / "a.log", kLogA);
    WriteFile(dir / "b.log", kLogB);
  }
  void TearDown() override { fs::remove_all(dir); }

  // The plain merged log of a.log and b.log, as a regular file gets it.
  std::string Expected() {
    const ProgramRun run =
        RunStitcher(dir, {"-Plain", "-Output", "reference.log", "a.log", "b.log"});
    EXPECT_EQ(run.status, 0);
    const std::string text = ReadFile(dir / "reference.log");
    fs::remove(dir / "reference.log");
    return text;
  }

  fs::path dir;
};

// Each kind of node at the chosen path, directly and through a symlink: the run succeeds,
// the node is still that node afterwards, its reader got the whole merged log, and no
// partial file is left beside it.
TEST_F(OutputDestinations, DevicesFifosAndSocketsAreWrittenInPlace) {
  const std::string expected = Expected();
  ASSERT_NE(expected.find("/b/1"), std::string::npos);
  enum class Node { CharacterDevice, Fifo, Socket };
  struct Case {
    const char* label;
    Node node;
    bool through_link;
    const char* type;  // of the node afterwards
  };
  const Case cases[] = {
      {"character device", Node::CharacterDevice, false, "character device"},
      {"symlink to a character device", Node::CharacterDevice, true, "character device"},
      {"FIFO with a reader", Node::Fifo, false, "fifo"},
      {"symlink to a FIFO", Node::Fifo, true, "fifo"},
      {"listening socket", Node::Socket, false, "socket"},
      {"symlink to a socket", Node::Socket, true, "socket"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const fs::path node = dir / "node";
    fs::remove(node);
    fs::remove(dir / "link");
    if (c.node == Node::CharacterDevice && geteuid() != 0) {
      std::printf("[ NOTE ] %s: not root, no device node can be made here\n", c.label);
      continue;
    }
    std::unique_ptr<FifoReader> fifo;
    std::unique_ptr<SocketReader> listener;
    switch (c.node) {
      case Node::CharacterDevice:
        // The null device's numbers, on a node of the test's own: the system's is never used.
        ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
        break;
      case Node::Fifo:
        fifo = std::make_unique<FifoReader>(node);
        break;
      case Node::Socket:
        listener = std::make_unique<SocketReader>(node);
        ASSERT_TRUE(listener->Listening());
        break;
    }
    if (c.through_link) fs::create_symlink("node", dir / "link");
    const char* target = c.through_link ? "link" : "node";

    const ProgramRun run = RunStitcher(dir, {"-Plain", "-Output", target, "a.log", "b.log"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console,
              "Writing webstar lines.\nMerging . . .\nWrote 3 entries (WebSTAR, plain text) to '" +
                  (dir / target).string() + "'.\n");
    EXPECT_EQ(NodeType(node), c.type);
    if (c.through_link) {
      EXPECT_EQ(NodeType(dir / "link"), "symlink");
    }
    if (fifo) {
      EXPECT_EQ(fifo->Take(), expected);
    }
    if (listener) {
      EXPECT_EQ(listener->Take(), expected);
    }
    EXPECT_TRUE(PartialFilesIn(dir).empty());
  }
}

// A symlink at the chosen path that leads to a regular file: the link is replaced by the new
// merged log, as any file at the name is; the file it led to is left as it was.
TEST_F(OutputDestinations, ASymlinkToAFileIsReplacedAndItsTargetKept) {
  const std::string expected = Expected();
  // An earlier merged log, so that it may be replaced: its header line, and one entry.
  const std::string earlier =
      expected.substr(0, expected.find('\n') + 1) +
      "03/04/2001\t10:00:00\t10.0.0.9\t-\tGET\t/old\t-\t200\t1\t-\t-\t-\t\"-\"\t-\n";
  WriteFile(dir / "elsewhere.log", earlier);
  fs::create_symlink("elsewhere.log", dir / "merged.log");
  const ProgramRun run = RunStitcher(dir, {"-Plain", "-Output", "merged.log", "a.log", "b.log"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(NodeType(dir / "merged.log"), "file");
  EXPECT_EQ(ReadFile(dir / "merged.log"), expected);
  EXPECT_EQ(ReadFile(dir / "elsewhere.log"), earlier);
}

// What can never take the merged log is refused before any input is read: nothing is
// written, the node stays, the status is 1.
TEST_F(OutputDestinations, DirectoriesAndBlockDevicesAreRefused) {
  struct Case {
    const char* label;
    bool block_device;
    const char* message;
  };
  const Case cases[] = {
      {"directory", false, "Error opening output file 'node': it is a directory.\n"},
      {"block device", true, "Error opening output file 'node': it is a block device.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const fs::path node = dir / "node";
    fs::remove_all(node);
    if (c.block_device) {
      if (geteuid() != 0) {
        std::printf("[ NOTE ] not root, no device node can be made here\n");
        continue;
      }
      // Never opened: refused from what the path is.
      ASSERT_EQ(mknod(node.c_str(), S_IFBLK | 0600, makedev(7, 200)), 0);
    } else {
      fs::create_directory(node);
    }
    const std::string before = NodeType(node);
    const ProgramRun run = RunStitcher(dir, {"-Output", "node", "a.log", "b.log"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.console, c.message);
    EXPECT_EQ(NodeType(node), before);
    EXPECT_TRUE(PartialFilesIn(dir).empty());
  }
}

// `stitcher -Output - ... | head -1`: once the reader is gone the run ends at once, killed by
// SIGPIPE and saying nothing, whatever disposition it was started with (the test ignores
// SIGPIPE, and a child inherits that), and leaves no file behind.
TEST_F(OutputDestinations, AClosedOutputPipeEndsTheRunQuietly) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::string many = AccessLines(3, 60000, 0);  // far more than a pipe holds
  WriteFile(dir / "c.log", many);
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  const fs::path console = FreshDirectory("output-destinations-console") / "console";
  RunningProgram run = StartProgram(STITCHER_BINARY, dir,
                                    {"-Plain", "-Output", "-", "a.log", "c.log"}, console, -1, [&] {
                                      dup2(pipe_ends[1], STDOUT_FILENO);
                                      close(pipe_ends[0]);
                                      close(pipe_ends[1]);
                                    });
  close(pipe_ends[1]);
  char first[64];
  EXPECT_GT(read(pipe_ends[0], first, sizeof first), 0);
  close(pipe_ends[0]);  // as head does after its line
  const int status = WaitProgramFor(run, 60);
  EXPECT_EQ(status, 1000 + SIGPIPE);
  EXPECT_EQ(ReadFile(console), "Writing webstar lines.\nMerging . . .\n")
      << "no message about the pipe";
  EXPECT_EQ(fs::directory_entry(dir).exists(), true);
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 3u) << "a.log, b.log and c.log alone";
  fs::remove_all(console.parent_path());
  std::signal(SIGPIPE, SIG_DFL);
}

}  // namespace

#endif  // STITCHER_BINARY
