#include "platform/console.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/check.h"
#include "program_runner.h"

namespace {

// Bytes waiting to be read on `fd`.
int Pending(int fd) {
  int count = -1;
  EXPECT_EQ(ioctl(fd, FIONREAD, &count), 0);
  return count;
}

bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Puts `fd` on standard input for the life of the object.
class StdinFrom {
 public:
  explicit StdinFrom(int fd) : saved_(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~StdinFrom() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

TEST(Console, WithoutATerminalThePollLeavesInputAlone) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  {
    StdinFrom stdin_from(pipe_fds[0]);
    PollConsole();  // nothing pending and the writer still open: must not wait
    ASSERT_EQ(write(pipe_fds[1], "abc", 3), 3);
    PollConsole();
    PollConsole();
    RestoreConsole();  // nothing was changed: a no-op
  }
  EXPECT_EQ(Pending(pipe_fds[0]), 3);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

// A pseudo-terminal in its usual cooked mode, put on standard input.
class ConsoleOnTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave, &original), 0);
    ASSERT_TRUE(original.c_lflag & ICANON);
    ASSERT_TRUE(original.c_lflag & ECHO);
  }
  void TearDown() override {
    close(master);
    close(slave);
  }

  termios Mode() const {
    termios mode{};
    EXPECT_EQ(tcgetattr(slave, &mode), 0);
    return mode;
  }

  // Types `keys` and waits until the terminal has taken them in: its echo comes back
  // in cooked mode; in raw mode they become readable.
  void Type(const std::string& keys, bool echoed) {
    ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    if (echoed) {
      std::string echo;
      char c;
      while (echo.size() < keys.size()) {
        pollfd p{master, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1) << "no echo";
        ASSERT_EQ(read(master, &c, 1), 1);
        echo += c;
      }
      return;
    }
    for (int tries = 0; Pending(slave) < static_cast<int>(keys.size()); ++tries) {
      ASSERT_LT(tries, 500) << "keys never arrived";
      usleep(10000);
    }
  }

  // Forks a child whose standard input is the terminal: it runs `before`, polls (which
  // puts the terminal in raw mode; the child exits with 7 when it did not), then runs
  // `then` (exit 8 if that returns). Returns the child's wait status.
  template <typename Before, typename Then>
  int RunRawChild(Before before, Then then) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      dup2(slave, STDIN_FILENO);
      before();
      PollConsole();
      termios mode;
      if (tcgetattr(STDIN_FILENO, &mode) != 0 || (mode.c_lflag & ICANON) != 0) _exit(7);
      then();
      _exit(8);
    }
    int status = -1;
    if (child > 0) waitpid(child, &status, 0);
    return status;
  }

  int master = -1;
  int slave = -1;
  termios original{};
};

TEST_F(ConsoleOnTerminal, EachPollSwallowsExactlyOneKey) {
  StdinFrom stdin_from(slave);
  // Keys typed before the first poll stay pending when the mode changes.
  Type("xy", true);
  PollConsole();
  const termios raw = Mode();
  EXPECT_FALSE(raw.c_lflag & ICANON);
  EXPECT_FALSE(raw.c_lflag & ECHO);
  // Ctrl+C still interrupts; quit and suspend, which would leave the terminal raw behind a
  // core dump or a stopped job, are plain keys.
  EXPECT_TRUE(raw.c_lflag & ISIG);
  EXPECT_EQ(raw.c_cc[VINTR], original.c_cc[VINTR]);
  EXPECT_EQ(raw.c_cc[VQUIT], _POSIX_VDISABLE);
  EXPECT_EQ(raw.c_cc[VSUSP], _POSIX_VDISABLE);
  EXPECT_EQ(raw.c_oflag, original.c_oflag);  // printed lines keep their line ends
  EXPECT_EQ(Pending(slave), 1);

  PollConsole();
  EXPECT_EQ(Pending(slave), 0);
  PollConsole();  // nothing pending: returns at once
  EXPECT_EQ(Pending(slave), 0);

  // Ctrl+\ and Ctrl+Z are ordinary keys now: they reach the polls and are swallowed.
  Type(std::string("a\x1c\x1az"), false);
  for (int left : {3, 2, 1, 0}) {
    PollConsole();
    EXPECT_EQ(Pending(slave), left);
  }

  RestoreConsole();
  EXPECT_TRUE(SameMode(Mode(), original));
  RestoreConsole();
  EXPECT_TRUE(SameMode(Mode(), original));

  // After a restore the next poll enters raw mode again.
  PollConsole();
  EXPECT_FALSE(Mode().c_lflag & ICANON);
  RestoreConsole();
  EXPECT_TRUE(SameMode(Mode(), original));
}

// The program may end by returning from main or through an internal-check report; either
// way the terminal gets its mode back.
TEST_F(ConsoleOnTerminal, ModeIsRestoredWhenTheProgramEnds) {
  struct Case {
    const char* how;
    int status;
  };
  const Case cases[] = {{"exit", 0}, {"check", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    const int status = RunRawChild([] {},
                                   [&c] {
                                     if (std::strcmp(c.how, "check") == 0)
                                       STITCHER_FAIL("console test", "stop");
                                     std::exit(0);
                                   });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    EXPECT_TRUE(SameMode(Mode(), original));
  }
}

// An ending signal (SIGINT, SIGTERM, SIGHUP) gives the terminal its mode back and ends the
// program with status 128 + its number. An ignored signal (as under nohup) stays ignored.
TEST_F(ConsoleOnTerminal, ModeIsRestoredWhenASignalEndsTheProgram) {
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    const int status = RunRawChild([] {}, [signal_number] { std::raise(signal_number); });
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal_number);
    EXPECT_TRUE(SameMode(Mode(), original));
  }

  const int status = RunRawChild([] { std::signal(SIGHUP, SIG_IGN); },
                                 [] {
                                   std::raise(SIGHUP);  // ignored: the program goes on
                                   RestoreConsole();
                                   _exit(0);
                                 });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(SameMode(Mode(), original));
}

// A merge started in the background of a shell must not stop there: changing the mode of
// the terminal from a background process group would suspend the whole job (SIGTTOU).
// The poll leaves a terminal alone that belongs to another, foreground, process group.
TEST_F(ConsoleOnTerminal, ABackgroundJobLeavesTheTerminalAlone) {
  std::fflush(stdout);
  const pid_t leader = fork();
  ASSERT_GE(leader, 0);
  if (leader == 0) {
    // A session with the terminal as its controlling terminal; the leader's process
    // group is the foreground one.
    if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0) _exit(10);
    const pid_t job = fork();
    if (job < 0) _exit(11);
    if (job == 0) {
      signal(SIGTTOU, SIG_DFL);
      signal(SIGTTIN, SIG_DFL);
      if (setpgid(0, 0) != 0) _exit(12);  // a background job of the session
      dup2(slave, STDIN_FILENO);
      PollConsole();
      PollConsole();
      _exit(0);
    }
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) != job) _exit(13);
    if (WIFSTOPPED(status)) {
      kill(job, SIGKILL);
      waitpid(job, &status, 0);
      _exit(14);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) _exit(15);
    // The foreground group itself still gets raw mode.
    dup2(slave, STDIN_FILENO);
    PollConsole();
    termios mode;
    if (tcgetattr(STDIN_FILENO, &mode) != 0 || (mode.c_lflag & ICANON) != 0) _exit(16);
    RestoreConsole();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(leader, &status, 0), leader);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "14: the background job was stopped by the poll; "
                                       "16: the foreground group got no raw mode";
  EXPECT_TRUE(SameMode(Mode(), original));
}

#ifdef STITCHER_BINARY
// Ctrl+C typed at the terminal of a merge in progress: the merge stops at once with status
// 130, its partial file is gone, the earlier merged log stays and the terminal has its mode
// back. The merge is held mid-way by a FIFO the test feeds, with the terminal in raw mode.
TEST_F(ConsoleOnTerminal, CtrlCStopsAMergeAndRestoresTheTerminal) {
  namespace fs = std::filesystem;
  using namespace testing_support;
  std::signal(SIGPIPE, SIG_IGN);
  const fs::path dir = FreshDirectory("console-ctrl-c");
  const fs::path console = FreshDirectory("console-ctrl-c-out") / "console";
  std::string a, b;
  char line[128];
  for (int i = 0; i < 20000; ++i) {
    std::snprintf(line, sizeof line,
                  "10.0.0.1 - - [05/Mar/2001:%02d:%02d:%02d -0500] \"GET /a%d HTTP/1.0\" 200 1\n",
                  i / 3600, i / 60 % 60, i % 60, i);
    if (i < 1000) a += line;
    b += line;
  }
  WriteFile(dir / "a.log", a);
  WriteFile(dir / "merged.gz", "the merged log of an earlier run\n");
  FifoFeeder feeder(dir / "b.fifo", b, "");
  ASSERT_TRUE(feeder.Opened());
  const int terminal = slave;
  RunningProgram run =
      StartProgram(STITCHER_BINARY, dir, {"a.log", "b.fifo"}, console, slave, [terminal] {
        // A session of its own with the terminal as its
        // controlling terminal, as a shell gives a job.
        setsid();
        ioctl(STDIN_FILENO, TIOCSCTTY, 0);
        close(terminal);
      });
  ASSERT_TRUE(WaitUntil([&] { return (Mode().c_lflag & ICANON) == 0; }))
      << "the merge never polled the console";
  ASSERT_TRUE(WaitUntil([&] { return !PartialFilesIn(dir).empty(); }));

  ASSERT_EQ(write(master, "\x03", 1), 1);
  EXPECT_EQ(WaitProgramFor(run, 30), 130) << "-2: Ctrl+C did not stop the merge";
  EXPECT_TRUE(SameMode(Mode(), original));
  EXPECT_TRUE(PartialFilesIn(dir).empty());
  EXPECT_EQ(ReadFile(dir / "merged.gz"), "the merged log of an earlier run\n");
  fs::remove_all(dir);
  fs::remove_all(console.parent_path());
}
#endif

}  // namespace
