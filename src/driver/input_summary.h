#pragma once
// What the console says about each input at the end of a merge: a warning for every input
// with corrupt lines, and (asked for) a table of all of them with their gaps.

#include <span>

struct MergeInput;

// One line per input with corrupt lines: how many of its lines, by reason, and the first
// line of no known dialect. A warning, so it is printed even when the run is quiet. Unless
// `table_follows`, it points at --stats.
void WarnCorruptInputs(std::span<const MergeInput> inputs, bool table_follows);

// The table: per input its entries, the lines passed over by reason, its first and last
// entry and its dialects; then each gap. `asked` (--stats) prints it even when quiet;
// otherwise it is information (verbose runs).
void PrintInputTable(std::span<const MergeInput> inputs, bool asked);
