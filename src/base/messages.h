#pragma once
// The message channel: everything the program says to its user goes through here, so that
// it can be pointed at another stream in one place (standard error when the merged log
// itself goes to standard output) and so that the exit status is decided once, from what
// was reported.

#include <cstdio>

// ---- Where messages go ---------------------------------------------------------------------
// Standard output until told otherwise.
void SetMessageStream(std::FILE* stream);
std::FILE* MessageStream();

// ---- Saying things -------------------------------------------------------------------------
// Prints a message (printf format); nothing is remembered.
[[gnu::format(printf, 1, 2)]] void Say(const char* format, ...);

// Prints a message about a failure that makes the run fail, and remembers it.
[[gnu::format(printf, 1, 2)]] void SayFailure(const char* format, ...);

// Remembers a failure whose message was already printed (or needs none).
void NoteFailure();

// ---- The outcome -----------------------------------------------------------------------------
// True once any failure was reported.
bool FailureReported();

// The exit status for what was reported: 0, or 1 after a failure.
int ExitStatus();

// Forgets reported failures and points the channel back at standard output (tests use it).
void ResetMessages();
