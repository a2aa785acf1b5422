#include "platform/fill_ahead.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/signals.h"

struct FillAhead {
  WorkCrew* crew = nullptr;
  FillSlot fill = nullptr;
  void* context = nullptr;
  bool ready[2] = {false, false};  // filled and not yet released by the consumer
  int front = 0;                   // the slot the consumer uses
  int next_fill = 0;               // the slot the next fill goes into; fills alternate
  bool busy = false;               // a fill is queued or running
  bool ended = false;              // a finished fill was the last one
  int last_slot = -1;              // the slot of that last fill
  bool stopping = false;           // StopFillAhead waits; no new fill starts
};

class WorkCrew {
 public:
  explicit WorkCrew(int threads) {
    const EndingSignalsBlockedForNewThreads main_thread_takes_signals;
    const int started = StartWorkers(threads);
    // The system's limit was met: the threads that did start took what the rest of the run
    // needs (each thread's stack counts against an address-space limit). Half of them do the
    // same work and leave room.
    if (started < threads && started > 1) {
      StopWorkers();
      StartWorkers(started / 2);
    }
  }

  ~WorkCrew() { StopWorkers(); }

  WorkCrew(const WorkCrew&) = delete;
  WorkCrew& operator=(const WorkCrew&) = delete;

  int Threads() const { return static_cast<int>(workers_.size()); }
  std::mutex& Mutex() { return mutex_; }
  std::condition_variable& Filled() { return filled_; }

  // Queues the next fill of `ahead` when one may start: none running, the producer not at
  // its end, and the slot it goes into free. The caller holds the mutex.
  void MaybeFill(FillAhead* ahead) {
    if (ahead->busy || ahead->ended || ahead->stopping || ahead->ready[ahead->next_fill]) return;
    ahead->busy = true;
    queue_.push_back(ahead);
    work_.notify_one();
  }

 private:
  // Starts up to `threads` workers; returns how many the system let start.
  int StartWorkers(int threads) {
    workers_.reserve(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // the system's limit: fewer threads do the same work
      }
    }
    return static_cast<int>(workers_.size());
  }

  // Ends and joins every worker.
  void StopWorkers() {
    {
      const std::lock_guard hold(mutex_);
      quit_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    quit_ = false;
  }

  void Work() {
    std::unique_lock hold(mutex_);
    for (;;) {
      work_.wait(hold, [this] { return quit_ || !queue_.empty(); });
      if (queue_.empty()) return;  // quitting, nothing left to do
      FillAhead* ahead = queue_.front();
      queue_.pop_front();
      if (!ahead->stopping) {
        const int slot = ahead->next_fill;
        hold.unlock();
        const bool last = ahead->fill(ahead->context, slot);
        hold.lock();
        ahead->ready[slot] = true;
        if (last) {
          ahead->ended = true;
          ahead->last_slot = slot;
        }
        ahead->next_fill ^= 1;
      }
      ahead->busy = false;
      MaybeFill(ahead);
      filled_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;    // a fill was queued, or the crew quits
  std::condition_variable filled_;  // a fill finished
  std::deque<FillAhead*> queue_;
  bool quit_ = false;
  std::vector<std::thread> workers_;
};

WorkCrewPtr MakeWorkCrew(int threads) {
  const auto release = [](WorkCrew* crew) { delete crew; };
  if (threads <= 0) return WorkCrewPtr{nullptr, release};
  WorkCrewPtr crew{new WorkCrew(threads), release};
  if (crew->Threads() == 0) crew.reset();
  return crew;
}

int CrewThreads(const WorkCrew* crew) {
  return crew == nullptr ? 0 : crew->Threads();
}

FillAhead* StartFillAhead(WorkCrew& crew, FillSlot fill, void* context) {
  auto* ahead = new (std::nothrow) FillAhead;
  if (ahead == nullptr) return nullptr;
  ahead->crew = &crew;
  ahead->fill = fill;
  ahead->context = context;
  const std::lock_guard hold(crew.Mutex());
  crew.MaybeFill(ahead);
  return ahead;
}

int AwaitFront(FillAhead* ahead, bool* last) {
  WorkCrew& crew = *ahead->crew;
  std::unique_lock hold(crew.Mutex());
  crew.Filled().wait(hold, [ahead] { return ahead->ready[ahead->front]; });
  if (last != nullptr) *last = ahead->ended && ahead->last_slot == ahead->front;
  return ahead->front;
}

void ReleaseFront(FillAhead* ahead) {
  WorkCrew& crew = *ahead->crew;
  const std::lock_guard hold(crew.Mutex());
  ahead->ready[ahead->front] = false;
  ahead->front ^= 1;
  crew.MaybeFill(ahead);
}

void StopFillAhead(FillAhead* ahead) {
  WorkCrew& crew = *ahead->crew;
  {
    std::unique_lock hold(crew.Mutex());
    ahead->stopping = true;
    crew.Filled().wait(hold, [ahead] { return !ahead->busy; });
  }
  delete ahead;
}
