#pragma once
// Normalisation and trimming of accepted entries. Every normaliser rewrites its
// NUL-terminated text in place and never makes it longer.

#include "entries/log_entry.h"

// ---- Applied by the merge engine, in this order ----------------------------------------
// Runs the field normalisers below on the entry's present fields, lower-casing the path
// when `lowercase_path` is set. An absolute-URL uri becomes its path, and its host becomes
// the domain when the entry has none and the host is not empty. (The filters of
// entries/filters.h come next, then the trim.)
void NormalizeEntry(LogEntry& entry, bool lowercase_path);
// Drops the first n directories of a uri that begins with '/'; the last component stays.
void TrimLeadingDirs(LogEntry& entry, int n);

// ---- Field normalisers -----------------------------------------------------------------
// "%" and two alphanumerics decode to one byte (a decoded NUL ends the text); any other '%'
// is copied. ASCII letters only are case-folded.

// Drops a port and everything after it, keeps letters, digits, '-', '.' (lower-cased),
// '@' and '/', and drops trailing dots.
void NormalizeHost(char* text);
// Decodes escapes, removes "." segments and doubled slashes, resolves ".." segments (never
// above the root, nor into the host of an absolute URL); lower-cases when asked.
void NormalizeUriPath(char* text, bool lower_case);
// When `text` is an absolute http/ftp URL: rewrites it to hold only the lower-cased host,
// sets `path` to the path inside the text (or to a constant "/"), returns true.
bool SplitAbsoluteUri(char* text, char*& path);
// Cuts at " via ", turns '+' into blanks, drops trailing blanks.
void NormalizeAgent(char* text);
// Drops a final ":80" and any user prefix before '@', keeps letters, digits, '-', '.', ':'
// (lower-cased), drops trailing dots.
void NormalizeDomain(char* text);
// Decodes escapes and turns '+' into blanks.
void DecodeQuery(char* text);
// A host-less scheme ("javascript:...") becomes its capitalised name; an absolute URL gets
// a lower-case scheme and host without trailing dot or default port; escapes are decoded,
// '+' after '?' or ';' becomes a blank, the fragment goes; "bookmark..." gets a capital B.
void NormalizeReferer(char* text);
