#pragma once
// Filling ahead: a producer runs on a worker thread, one buffer ahead of the thread that
// consumes what it makes, so that the work of many producers (decoding compressed inputs,
// parsing and formatting their entries) overlaps with the consumer's and with each other.
//
// Each producer owns two slots that the caller keeps (blocks of bytes, batches of lines).
// A worker fills one while the consumer uses the other; then they swap. At most one fill of
// a producer runs at a time, and slots are filled and used in the same order, so the
// producer sees its calls in the order it would on the consumer's thread, and whatever it
// makes comes out exactly as it would there, whatever the number of threads.
//
//   WorkCrew        the worker threads, shared by every producer of a run
//   StartFillAhead  hands a producer to the crew; the first fill starts at once
//   AwaitFront      the slot to use next, waiting for its fill
//   ReleaseFront    that slot is used up; the other one is used next
//   StopFillAhead   waits for a running fill, then gives the producer back

#include <memory>

class WorkCrew;
struct FillAhead;

// ---- The crew --------------------------------------------------------------------------------
// `threads` worker threads, started with the ending signals blocked (signals.h), or as many
// of them as the system lets start (its thread or memory limit); null for 0 or fewer, or
// when none could start. Destroying the crew joins them; every producer must have been
// stopped before.
using WorkCrewPtr = std::unique_ptr<WorkCrew, void (*)(WorkCrew*)>;
WorkCrewPtr MakeWorkCrew(int threads);

// The threads a crew runs; 0 for none.
int CrewThreads(const WorkCrew* crew);

// ---- One producer ----------------------------------------------------------------------------
// Fills slot 0 or 1 of `context`; true when nothing follows it (the producer ended, or
// failed): no further fill is asked for.
using FillSlot = bool (*)(void* context, int slot);

// From here until StopFillAhead, `fill` is only called by the crew. Null without the memory
// for it.
FillAhead* StartFillAhead(WorkCrew& crew, FillSlot fill, void* context);

// The slot to use next (0 or 1), once its fill has finished; `*last`, where given, tells
// whether no fill follows it. The slot belongs to the caller until ReleaseFront.
int AwaitFront(FillAhead* ahead, bool* last = nullptr);

// The front slot is used up: the next fill may go into it, and the other slot becomes the
// front. Not after the last slot.
void ReleaseFront(FillAhead* ahead);

// Waits for the running fill, if any, and releases the producer. Its slots may be freed
// afterwards by the caller.
void StopFillAhead(FillAhead* ahead);
