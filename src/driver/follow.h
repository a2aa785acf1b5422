#pragma once
// Following: after the logs' existing entries are merged, the logs are read on as they grow
// and every new entry is written in time order, within a bounded delay, until an ending
// signal (SIGINT, SIGTERM, SIGHUP) or the --follow-until time.
//
// Order with bounded delay: an entry is written once every input that can still grow has
// shown an entry at or after its time, or once the lateness (wall time since it was read)
// has passed, whichever comes first. An entry that arrives for a time already passed is
// written at once and counted as late. The existing content is merged first, exactly as a
// batch merge would: while any file is still being caught up, only the files being caught up
// hold entries back, and the lateness does not count.
//
// Each input's sort window applies as in a batch merge: its entries out of order within the
// window are put in their place, so an input with a window holds back what lies up to a
// window before the latest time it has shown, not only what lies before that time. The
// lateness bounds every wait, window or not: once an entry's lateness has passed, it and
// everything of every input up to its time is written, out of the windows too. An entry of
// an input that comes after a later one of the same input was written is late beyond its
// window, and is counted for its input as a batch merge counts it.
//
// Files are followed by name, as `tail -F` does: renamed and replaced, truncated in place,
// deleted and recreated, or not there yet at the start. Pipes, FIFOs and standard input
// (/dev/stdin) are read as their data comes; one that ends ends that input only. Files wake
// the follower through directory watches, with a look at every name on a timer besides
// (and only that where watches are unavailable); an idle follower sleeps.
//
// The merged log is appended to (never replaced) and flushed in whole lines batch by batch;
// gzip output is one gzip member per batch.

#include "driver/merge.h"

// ---- Running ---------------------------------------------------------------------------------
// Follows the `count` slots into the merged log the settings name. True when it ended as
// asked (a signal, the --follow-until time, or every input ended) with everything written;
// false, with the reason said, when the merged log cannot be opened or a write failed.
bool FollowLogs(int count, MergeInput* inputs, const RunZones& zones);
