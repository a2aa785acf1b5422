#pragma once
// The configuration file "Stitcher.cfg": one setting per line, read once at start-up after
// the defaults and before the command-line switches.
//
// A line is a key in the first column, a run of spaces or tabs, and a value up to the line
// end. A line whose first character is '#' is a comment; every other line must be valid.

// ---- Reading ---------------------------------------------------------------------------
// Applies "Stitcher.cfg" in the working directory to the settings. A missing or unreadable
// file is silently ignored. Invalid lines are reported as failures (the run
// then ends with exit status 1).
void ReadConfig();

// The same for the file at `path`.
void ReadConfigFile(const char* path);

// ---- One line --------------------------------------------------------------------------
// Applies one line as read (line end included, at most 519 characters); the buffer is cut
// with NULs in place. An invalid line prints "Invalid configuration line '%s'!" with the
// buffer's text up to its first NUL, reports a failure and returns false; the
// setting concerned keeps its value.
bool ApplyConfigLine(char* line);
