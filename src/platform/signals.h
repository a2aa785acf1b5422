#pragma once
// Ending signals: Ctrl+C (SIGINT), SIGTERM and SIGHUP end a run cleanly. The temporary file
// being written is removed, the terminal gets its mode back and the program exits with
// 128 + the signal's number. A file-size limit (SIGXFSZ) becomes an ordinary write error.

// ---- Handlers ------------------------------------------------------------------------------
// Installs the handler for each ending signal whose action is still the default (one that
// is ignored, as under nohup or for a background job of a shell without job control, stays
// ignored) and ignores SIGXFSZ, so that a write beyond the file-size limit fails with an
// error instead of killing the program. Also removes the registered file when the program
// exits before it was published. Once per process; later calls change nothing.
void InstallSignalHandlers();

// A reader that closes the pipe (or socket) the merged log goes to, as `head` does, ends the
// process at once and quietly, as it ends `cat`: by SIGPIPE, whatever disposition the
// program was started with. Called once, at the start of the program.
void EndQuietlyOnClosedPipe();

// ---- Ending at once ---------------------------------------------------------------------------
// Ends the process at once from any thread, with `status`, as an ending signal does: the
// registered file is removed and the terminal gets its mode back; nothing else runs (no
// exit handlers, no destructors, which other threads may still be using).
[[noreturn]] void EndRunNow(int status);

// ---- The file a signal removes --------------------------------------------------------------
// Holds the ending signals back until ReleaseEndingSignals (a signal that arrives meanwhile
// is handled then), so that creating or renaming a file and registering it are one step.
void HoldEndingSignals();
void ReleaseEndingSignals();

// Makes `path` the file that an ending signal, or an exit, removes (replacing any earlier
// one). False when the path is too long to keep; then no file is registered.
bool RemoveOnSignal(const char* path);

// No file is removed any more: it was published or removed already.
void ForgetRemoveOnSignal();

// Holds the ending signals back in the calling thread while it lives, then puts back that
// thread's own mask (a signal that arrived meanwhile is handled then). Unlike
// HoldEndingSignals it keeps no shared state: any thread may use it, also inside a hold.
class EndingSignalsHeldHere {
 public:
  EndingSignalsHeldHere();
  ~EndingSignalsHeldHere();
  EndingSignalsHeldHere(const EndingSignalsHeldHere&) = delete;
  EndingSignalsHeldHere& operator=(const EndingSignalsHeldHere&) = delete;

 private:
  alignas(8) unsigned char saved_mask_[128];  // the thread's mask before the hold
};

// ---- Worker threads ---------------------------------------------------------------------------
// While one of these lives, threads started by the thread that made it begin with the ending
// signals blocked: a signal sent to the process then always reaches the main thread, which
// holds it back (HoldEndingSignals) while a file is created and registered or published, so
// the handler never runs on a worker in between and leaves a temporary file behind.
class EndingSignalsBlockedForNewThreads {
 public:
  EndingSignalsBlockedForNewThreads();
  ~EndingSignalsBlockedForNewThreads();
  EndingSignalsBlockedForNewThreads(const EndingSignalsBlockedForNewThreads&) = delete;
  EndingSignalsBlockedForNewThreads& operator=(const EndingSignalsBlockedForNewThreads&) = delete;

 private:
  alignas(8) unsigned char saved_mask_[128];  // the creating thread's own mask, restored after
};
