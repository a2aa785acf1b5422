#pragma once
// The message channel: everything the program says to its user goes through here, so that
// it can be pointed at another stream in one place (standard error when the merged log
// itself goes to standard output) and so that the exit status is decided once, from what
// was reported.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// ---- Where messages go ---------------------------------------------------------------------
// Standard output until told otherwise.
void SetMessageStream(std::FILE* stream);
std::FILE* MessageStream();

// `hook` runs before every message is printed (null: nothing runs); the progress line uses it
// to clear itself. It may run on any thread that says something.
void SetBeforeMessage(void (*hook)());

// With `quiet`, SayInfo prints nothing; every other message still appears (for cron jobs,
// which want to hear only about problems).
void SetQuiet(bool quiet);

// ---- Saying things -------------------------------------------------------------------------
// Prints a message (printf format); nothing is remembered. Used for problems and warnings,
// so it prints even when quiet.
[[gnu::format(printf, 1, 2)]] void Say(const char* format, ...);

// Prints information about the run (progress, what was opened); nothing when quiet.
[[gnu::format(printf, 1, 2)]] void SayInfo(const char* format, ...);

// Prints a message about a failure that makes the run fail, and remembers it.
[[gnu::format(printf, 1, 2)]] void SayFailure(const char* format, ...);

// Prints a message about an input that was lost in whole or in part (it could not be
// opened or read to its end) and remembers it: the merge goes on without it.
[[gnu::format(printf, 1, 2)]] void SayInputLost(const char* format, ...);

// Remembers a failure whose message was already printed (or needs none).
void NoteFailure();

// ---- Remembering problems -----------------------------------------------------------------
// From now on (or, with false, until told again) the text of every problem (every message
// but SayInfo's) is also kept, for a report of the run.
void KeepProblems(bool keep = true);
bool KeepingProblems();
// The problems kept, in the order they were said, each without its final line end.
const std::vector<std::string>& ProblemsSaid();

// ---- Names in messages ---------------------------------------------------------------------
// `name` with every control character written as an escape (\n, \r, \t, \e or \xHH), so a
// file name can never move the cursor, recolour or clear the terminal, or fake a line of
// its own. Other bytes, including those from 128 up, stay as they are.
std::string EscapedName(std::string_view name);

// ---- Numbers in messages -------------------------------------------------------------------
// `number` with its thousands grouped by commas: 27257 as "27,257".
std::string Grouped(int64_t number);

// ---- The outcome -----------------------------------------------------------------------------
// True once any failure was reported.
bool FailureReported();

// The exit status for what was reported: 1 after a failure (usage, configuration, output),
// else 2 when an input was lost, else 0.
int ExitStatus();

// Forgets reported failures, turns quiet off and points the channel back at standard output
// (tests use it).
void ResetMessages();
