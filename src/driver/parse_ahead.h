#pragma once
// Parsing ahead: an input's lines go their whole road (input_slot.h: read, parsed, filtered,
// formatted, through the sort window) on a worker thread, a batch of merged-log lines ahead
// of the merge, so that the merge
// thread only picks the next line by its key and copies it out. Batches hold each line with
// its key in the input's own order, so the merge picks exactly the entries, in exactly the
// order, ties included, that it picks when it parses and formats on its own thread.
//
//   StartParseAhead  hands an open input with a pending entry to the crew
//   AheadLine        the input's next line, formatted, waiting for its batch
//   AdvanceAhead     the key of the line after it, or NO_ENTRY at the end of the input
//   StopParseAhead   waits for a running fill, then gives the input back

#include <string_view>

#include "entries/log_entry.h"
#include "platform/fill_ahead.h"

struct MergeInput;
struct ParseAhead;

// From here until StopParseAhead the input's stream, parser state, entry, sort window and
// counters belong to the crew (its time_key stays the merge's): the pending line is the
// first line of the first batch. A worker hands a batch over once it holds
// `batch_bytes` of text or the input ended (its last line may take it beyond, by at most one
// line). Null without the memory for it.
ParseAhead* StartParseAhead(WorkCrew& crew, MergeInput& input, size_t batch_bytes);

// The input's next line in the merged log's dialect, line end included. The text stays in
// place until AdvanceAhead.
std::string_view AheadLine(ParseAhead* ahead);

// Moves past the current line; the key of the next one, or NO_ENTRY when the input has no
// more entries (then the input's counters and stream are final).
TimeKey AdvanceAhead(ParseAhead* ahead);

// Waits for a running fill, if any, and releases the batches; the input belongs to the
// merge thread again.
void StopParseAhead(ParseAhead* ahead);
