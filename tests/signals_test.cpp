// Worker threads never take an ending signal: a process-directed Ctrl+C, SIGTERM or SIGHUP
// must reach the main thread, which holds the signals back while it creates, registers or
// publishes a file. A handler run on a worker in between would leave the file behind. A
// thread may also hold them back for itself alone, as a scratch file is made and unnamed.

#include "platform/signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

namespace {

bool Blocked(int signal_number) {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, signal_number) == 1;
}

TEST(EndingSignals, ThreadsStartedMeanwhileBlockThemAndTheMainThreadKeepsItsMask) {
  ASSERT_FALSE(Blocked(SIGINT));
  bool in_worker[3] = {};
  bool usr1_in_worker = true;
  {
    const EndingSignalsBlockedForNewThreads guard;
    std::thread worker([&] {
      in_worker[0] = Blocked(SIGINT);
      in_worker[1] = Blocked(SIGTERM);
      in_worker[2] = Blocked(SIGHUP);
      usr1_in_worker = Blocked(SIGUSR1);
    });
    worker.join();
  }
  EXPECT_TRUE(in_worker[0]);
  EXPECT_TRUE(in_worker[1]);
  EXPECT_TRUE(in_worker[2]);
  EXPECT_FALSE(usr1_in_worker) << "only the ending signals are blocked";
  EXPECT_FALSE(Blocked(SIGINT));
  EXPECT_FALSE(Blocked(SIGTERM));
  EXPECT_FALSE(Blocked(SIGHUP));
}

volatile sig_atomic_t hangups = 0;
extern "C" void CountHangup(int) {
  hangups = hangups + 1;
}

// A hold on one thread keeps a signal back until it ends, works inside HoldEndingSignals,
// and gives back the mask it found, not the one HoldEndingSignals saved.
TEST(EndingSignals, AHeldSignalArrivesWhenTheHoldEnds) {
  struct sigaction counting {};
  counting.sa_handler = CountHangup;
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGHUP, &counting, &old), 0);
  hangups = 0;
  {
    const EndingSignalsHeldHere held;
    EXPECT_TRUE(Blocked(SIGINT));
    EXPECT_TRUE(Blocked(SIGTERM));
    EXPECT_FALSE(Blocked(SIGUSR1));
    raise(SIGHUP);
    EXPECT_EQ(hangups, 0) << "held back";
  }
  EXPECT_EQ(hangups, 1) << "handled when the hold ends";
  EXPECT_FALSE(Blocked(SIGHUP));

  HoldEndingSignals();
  {
    const EndingSignalsHeldHere inner;
    raise(SIGHUP);
  }
  EXPECT_TRUE(Blocked(SIGHUP)) << "the outer hold stays";
  EXPECT_EQ(hangups, 1);
  ReleaseEndingSignals();
  EXPECT_EQ(hangups, 2);
  EXPECT_FALSE(Blocked(SIGHUP));
  sigaction(SIGHUP, &old, nullptr);
}

}  // namespace
