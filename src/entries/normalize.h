#pragma once
// Normalisation and trimming of accepted entries. Every normaliser rewrites its
// NUL-terminated text in place, never makes it longer, and returns the length of the result,
// which the entry's field then carries.

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
int32_t NormalizeHost(char* text);
// Decodes escapes, removes "." segments and doubled slashes, resolves ".." segments (never
// above the root, nor into the host of an absolute URL); lower-cases when asked.
int32_t NormalizeUriPath(char* text, bool lower_case);
// When `uri` is an absolute http/ftp URL: rewrites its text to hold only the lower-cased
// host, which `uri` then measures, sets `path` to the path inside the text (or to a constant
// "/"), returns true.
bool SplitAbsoluteUri(EntryText& uri, EntryText& path);
// Cuts at " via ", turns '+' into blanks, drops trailing blanks.
int32_t NormalizeAgent(char* text);
// Drops a final ":80" and any user prefix before '@', keeps letters, digits, '-', '.', ':'
// (lower-cased), drops trailing dots.
int32_t NormalizeDomain(char* text);
// Decodes escapes and turns '+' into blanks.
int32_t DecodeQuery(char* text);
// A host-less scheme ("javascript:...") becomes its capitalised name; an absolute URL gets
// a lower-case scheme and host without trailing dot or default port; escapes are decoded,
// '+' after '?' or ';' becomes a blank, the fragment goes; "bookmark..." gets a capital B.
int32_t NormalizeReferer(char* text);
