#pragma once
// The configuration file ("Stitcher.cfg" in the working directory, or the one --config
// names): one setting per line, read once at start-up after the defaults and before the
// command-line switches.
//
// A line is a key in the first column, a run of spaces or tabs, and a value up to the line
// end. Blank lines and comments (a '#' as the first character after any blanks) are
// skipped; every other line must be valid.

// ---- Bounds ----------------------------------------------------------------------------
inline constexpr int CONFIG_LINE_MAX = 519;             // characters, line end included
inline constexpr long long CONFIG_SIZE_MAX = 64 << 20;  // bytes; a larger file is refused
inline constexpr int CONFIG_INVALID_LINES_MAX = 20;     // then the rest is not read

// ---- Reading ---------------------------------------------------------------------------
// Applies the file at `path` to the settings. Only a regular file of at most CONFIG_SIZE_MAX
// bytes is read; anything else (a FIFO, a device, a directory) is refused with a message
// and a failure, without ever waiting on it. A missing file is silently ignored unless
// `required`, when it is a failure like every other file that cannot be opened. Every
// invalid line is reported as "<file>:<line>: Invalid configuration line '<the whole
// line>'!" and is a failure; the setting concerned keeps its value. A line longer than
// CONFIG_LINE_MAX is refused whole. After CONFIG_INVALID_LINES_MAX invalid lines the rest
// of the file is left unread (it is most likely not a configuration file at all).
// True when the file was read.
bool ReadConfigFile(const char* path, bool required);

// ---- One line, one setting ---------------------------------------------------------------
struct OptionRow;

// How one line fared.
struct ConfigLine {
  bool valid = true;                      // a setting taken, a blank line or a comment
  const OptionRow* refused_by = nullptr;  // a known key that refused its value
};

// Applies one line as read (line end included); the buffer is cut with NULs in place. The
// key is one of the option table's configuration keys, compared exactly, and its value is
// checked as the long option of that name checks it. Nothing is said; an invalid line
// changes no setting.
ConfigLine ApplyConfigLine(char* line);
