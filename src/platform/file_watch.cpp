#include "platform/file_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t received_signal = 0;
int wake_pipe[2] = {-1, -1};  // the handler writes a byte to [1]; Wait polls [0]

// Only async-signal-safe calls: a second signal while the first is being handled (a follower
// stuck on a blocked output, say) ends the process as the default action would.
extern "C" void RecordEndingSignal(int signal_number) {
  if (received_signal != 0) {
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    return;
  }
  received_signal = signal_number;
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(wake_pipe[1], &byte, 1);
  errno = saved;
}

// The events that may mean more to read or another file under a followed name.
constexpr uint32_t kWatchedEvents = IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM |
                                    IN_DELETE | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF |
                                    IN_MOVE_SELF;

}  // namespace

void CatchEndingSignals() {
  if (wake_pipe[0] >= 0) return;
  if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    wake_pipe[0] = wake_pipe[1] = -1;
    return;  // the default actions stay: a signal still ends the process
  }
  for (int signal_number : kEndingSignals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RecordEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
  }
}

int EndingSignalReceived() {
  return received_signal;
}

FileDescriptor OpenForFollowing(const char* path) {
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  return FileDescriptor(fd);
}

ReadNow ReadAvailable(int fd, bool regular, char* out, size_t want, size_t& got) {
  got = 0;
  ssize_t n;
  do {
    n = read(fd, out, want);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    got = static_cast<size_t>(n);
    return ReadNow::Data;
  }
  if (n == 0) return regular ? ReadNow::Nothing : ReadNow::End;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadNow::Nothing;
  return ReadNow::Failed;
}

ChangeWatch::ChangeWatch() {
  inotify_fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  // Room for many events at once; each is at most a header and a name.
  if (inotify_fd_ >= 0) event_room_.resize(64 * (sizeof(inotify_event) + NAME_MAX + 1));
}

ChangeWatch::~ChangeWatch() {
  if (inotify_fd_ >= 0) close(inotify_fd_);
}

int ChangeWatch::WatchDirectory(const std::string& path) {
  if (inotify_fd_ < 0) return -1;
  const int watch =
      inotify_add_watch(inotify_fd_, path.empty() ? "." : path.c_str(), kWatchedEvents);
  if (watch < 0) return -1;
  // One directory named twice (a/./ and a/) gives the same watch: the same number.
  for (size_t i = 0; i < watches_.size(); ++i) {
    if (watches_[i] == watch) return static_cast<int>(i);
  }
  watches_.push_back(watch);
  return static_cast<int>(watches_.size() - 1);
}

void ChangeWatch::TakeEvents(std::vector<DirectoryChange>& changes) {
  for (;;) {
    const ssize_t n = read(inotify_fd_, event_room_.data(), event_room_.size());
    if (n <= 0) return;  // EAGAIN: all taken
    for (ssize_t at = 0; at < n;) {
      inotify_event event;
      std::memcpy(&event, event_room_.data() + at, sizeof event);
      const char* name = event_room_.data() + at + sizeof event;
      at += static_cast<ssize_t>(sizeof event + event.len);
      if ((event.mask & IN_Q_OVERFLOW) != 0) {
        changes.push_back(DirectoryChange{-1, std::string()});
        continue;
      }
      int directory = -1;
      for (size_t i = 0; i < watches_.size(); ++i) {
        if (watches_[i] == event.wd) directory = static_cast<int>(i);
      }
      const std::string text = event.len > 0 ? std::string(name) : std::string();
      // Runs of writes to one file come as runs of events: one change stands for them.
      if (!changes.empty() && changes.back().directory == directory &&
          changes.back().name == text) {
        continue;
      }
      changes.push_back(DirectoryChange{directory, text});
    }
  }
}

void ChangeWatch::Wait(std::span<StreamWait> streams, int timeout_ms,
                       std::vector<DirectoryChange>& changes) {
  std::vector<pollfd> fds;
  fds.reserve(streams.size() + 2);
  for (const StreamWait& s : streams) fds.push_back(pollfd{s.fd, POLLIN, 0});
  const size_t watch_at = fds.size();
  if (inotify_fd_ >= 0) fds.push_back(pollfd{inotify_fd_, POLLIN, 0});
  const size_t wake_at = fds.size();
  if (wake_pipe[0] >= 0) fds.push_back(pollfd{wake_pipe[0], POLLIN, 0});
  if (received_signal != 0) timeout_ms = 0;
  int n;
  do {
    n = poll(fds.data(), fds.size(), timeout_ms);
  } while (n < 0 && errno == EINTR && received_signal == 0);
  if (n <= 0) return;
  for (size_t i = 0; i < streams.size(); ++i) {
    streams[i].ready = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
  if (inotify_fd_ >= 0 && fds[watch_at].revents != 0) TakeEvents(changes);
  if (wake_pipe[0] >= 0 && wake_at < fds.size() && fds[wake_at].revents != 0) {
    char drain[16];
    while (read(wake_pipe[0], drain, sizeof drain) > 0) {
    }
  }
}
