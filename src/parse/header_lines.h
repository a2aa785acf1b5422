#pragma once
// Header lines: the dialect declarations that W3C extended, Netscape flexible and WebSTAR
// logs carry, and the translation of their field lists into the input's own template.

#include <cstdint>

#include "entries/log_entry.h"
#include "parse/format_tokens.h"
#include "parse/parse_logs.h"

// ---- Recognising a header line ---------------------------------------------------------
// The header recogniser behind the FORMAT_LINE token: reads the header at `cursor` (on the
// line that starts at `line`), updates the state it declares and returns PARSE_HEADER with
// entry.line_length set, or PARSE_NO_MATCH. Never writes into the line. Recognised:
// "!!" lines (WebSTAR mode; "!!LOG_FORMAT" field lists), "format=" (Netscape), "#Fields:"
// (W3C: where a list names date-local or time-local beside date or time, the UTC field
// wins), "#Software: WebSTAR", "#Date: yyyy-mm-dd" and "#Start-Date: yyyy-mm-dd" (the
// default date), other '#' comments, and "Bad URL reference received from: ".
ParseResult ReadFormatLine(ParseState& state, const char* line, const char* cursor,
                           LogEntry& entry);

// Bytes a non-entry line occupies: the text up to its first line end, then a CR if one
// follows, then an LF if one follows (so an LF CR pair leaves its CR for the next line).
int32_t HeaderLineLength(const char* line);

// ---- Field lists -----------------------------------------------------------------------
// Rebuilds state.fields_template from the words of a field-list header (`text` runs to a
// line end), looked up in `table`: at most 48 tokens, then MUST_EOL and EOL. A header
// without words (empty or blanks only) leaves fields_length at 0: no FIELDS template.
void TranslateFields(ParseState& state, const char* text, TranslationTable table);

// CloudFront's standard log files are often kept without their "#Version:" and "#Fields:"
// lines. True when `line` begins as CloudFront's do ("2019-12-04<TAB>21:02:31<TAB>"); the
// caller then takes CloudFront's documented field list with AdoptCloudFrontFields.
bool LooksLikeCloudFront(const char* line);
void AdoptCloudFrontFields(ParseState& state);
