#pragma once
// The run's memory budget (--memory): what the inputs' decoders and the data decoded ahead
// may hold at once, whatever the number of inputs or how well they compress. Inputs whose
// decoders (their windows and dictionaries, as each file's headers say) would together pass
// the budget are merged in passes through temporary files, as many at a time as fit; an
// input that needs more than the whole budget (a zstd file with a 128 MiB window) is
// merged alone. At most half of the budget goes to blocks decoded ahead.

#include <cstdint>

#include "driver/merge.h"

// Inputs that one pass may merge so that their decoders stay within `budget`; 0 when all
// of the `count` inputs (only their names are read) fit at once. Only regular files are looked at
// (their first bytes); a pipe or FIFO is never read before the merge.
int InputsWithinBudget(const MergeInput* inputs, int count, int64_t budget);

// Compressed inputs that may decode ahead at once (two blocks each), from half the budget;
// at least one, at most `most`.
int ReadAheadWithinBudget(int64_t budget, int most);
