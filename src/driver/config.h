#pragma once
// The configuration file ("Stitcher.cfg" in the working directory, or the one --config
// names): one setting per line, read once at start-up after the defaults and before the
// command-line switches.
//
// A line is a key in the first column, a run of spaces or tabs, and a value up to the line
// end. Blank lines and comments (a '#' as the first character after any blanks) are
// skipped; every other line must be valid.

#include <string_view>
#include <vector>

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
// Applies one line as read (line end included); the buffer is cut with NULs in place.
// True for a valid line, a blank line and a comment; false (nothing said) for an invalid
// one, which changes no setting.
bool ApplyConfigLine(char* line);

// Sets the setting of configuration key `key` from `value` under the rules of the file
// (booleans by prefix, digits, exact words, texts of 1..511 characters; a filter key
// appends). False, with nothing said and nothing changed, for an unknown key or a value
// the key refuses.
bool ApplySetting(std::string_view key, const char* value);

// The names of the configuration keys, in the order they are tested.
std::vector<std::string_view> ConfigKeyNames();
