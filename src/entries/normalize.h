#pragma once
// Normalisation, filters and trimming of accepted entries. Every normaliser rewrites its
// NUL-terminated text in place and never makes it longer.

#include "entries/log_entry.h"

// ---- Applied by the merge engine, in this order ----------------------------------------
// Runs the field normalisers below on the entry's present fields (uses settings.lowercase).
void NormalizeEntry(LogEntry& entry);
// Applies the five filter lists of the settings; false = drop the entry.
bool PassesFilters(const LogEntry& entry);
// Drops the first n directories of a uri that begins with '/'; the last component stays.
void TrimLeadingDirs(LogEntry& entry, int n);

// ---- Field normalisers -----------------------------------------------------------------
void NormalizeHost(char* text);
void NormalizeUriPath(char* text, bool lower_case);
// When `text` is an absolute http/ftp URL: rewrites it to hold only the lower-cased host,
// sets `path` to the path inside the text (or to a constant "/"), returns true.
bool SplitAbsoluteUri(char* text, char*& path);
void NormalizeAgent(char* text);
void NormalizeDomain(char* text);
void DecodeQuery(char* text);
void NormalizeReferer(char* text);
