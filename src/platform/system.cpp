#include "platform/system.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

bool LocalTime(int64_t seconds, std::tm& out) {
  const time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t RaiseOpenFileLimit(int64_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur != RLIM_INFINITY && static_cast<int64_t>(limit.rlim_cur) < wanted) {
    rlim_t target = static_cast<rlim_t>(wanted);
    if (limit.rlim_max != RLIM_INFINITY && target > limit.rlim_max) target = limit.rlim_max;
    limit.rlim_cur = target;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur == RLIM_INFINITY ? INT64_MAX : static_cast<int64_t>(limit.rlim_cur);
}
