#pragma once
// Running short of what the system lends: memory, or threads. Neither aborts a run: memory
// that cannot be had ends it cleanly with a message and status 1 (no partial merged log
// left behind, the earlier one kept); threads that cannot be started leave the work to
// fewer threads, down to none, with one note.

// ---- Memory ----------------------------------------------------------------------------------
// Says "Out of memory." (with `what` after it, when given) and ends the run at once from any
// thread, with status 1; the partial merged log is removed.
[[noreturn]] void EndOutOfMemory(const char* what = nullptr);

// From here on, an allocation that fails anywhere ends the run as EndOutOfMemory does, and
// an exception that nothing catches (on any thread) ends it with its reason and status 1
// rather than an abort; worker threads reserve small stacks. Called once, first thing in
// main.
void InstallResourceHandlers();

// ---- Threads ---------------------------------------------------------------------------------
// Notes, once per run, that only `started` of `asked` worker threads could be started (the
// process's thread or memory limit): the work goes on with those, or on the calling thread.
// Nothing is said when all started.
void NoteThreadsStarted(int asked, int started);
