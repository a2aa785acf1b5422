#include "driver/parse_ahead.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "driver/input_slot.h"

namespace {

// Merged-log lines back to back, each with its key. Between fills it belongs to the merge
// thread or is free; while a fill runs it belongs to that worker alone.
struct LineBatch {
  std::vector<char> text;     // grows to a batch and a longest line, then is reused
  size_t used = 0;            // bytes of text filled
  std::vector<size_t> ends;   // where each line ends in text
  std::vector<TimeKey> keys;  // each line's key
};

}  // namespace

struct ParseAhead {
  MergeInput* input = nullptr;
  size_t batch_bytes = 0;
  TimeKey pending = NO_ENTRY;  // the key of the worker's pending line, not yet in a batch
  LineBatch batches[2];
  FillAhead* fill = nullptr;
  // The merge's place: the batch it reads and the line in it.
  LineBatch* front = nullptr;
  bool front_last = false;  // no batch follows the front one
  size_t line = 0;
};

namespace {

// Formats entries into a batch until it holds batch_bytes or the input ends; true
// when it ended.
bool FillBatch(void* context, int slot) {
  auto* ahead = static_cast<ParseAhead*>(context);
  LineBatch& batch = ahead->batches[slot];
  MergeInput& input = *ahead->input;
  batch.used = 0;
  batch.ends.clear();
  batch.keys.clear();
  while (ahead->pending != NO_ENTRY) {
    // Each line is formatted in place into a space that holds it whole, as on the merge
    // thread: the text grows once to a batch and a line's space, and beyond only for a
    // longer line.
    const size_t room = PendingLineBound(input);
    if (batch.text.size() < batch.used + room) {
      batch.text.resize(std::max(batch.used + room, ahead->batch_bytes + LINE_BUFFER_SIZE));
    }
    batch.used += WritePendingLine(input, batch.text.data() + batch.used);
    batch.ends.push_back(batch.used);
    batch.keys.push_back(ahead->pending);
    ahead->pending = ReadPending(input, false);
    if (batch.used >= ahead->batch_bytes) break;
  }
  return ahead->pending == NO_ENTRY;
}

// Takes the next filled batch as the front one.
void TakeFront(ParseAhead* ahead) {
  const int slot = AwaitFront(ahead->fill, &ahead->front_last);
  ahead->front = &ahead->batches[slot];
  ahead->line = 0;
}

}  // namespace

ParseAhead* StartParseAhead(WorkCrew& crew, MergeInput& input, size_t batch_bytes) {
  auto* ahead = new (std::nothrow) ParseAhead;
  if (ahead == nullptr) return nullptr;
  ahead->input = &input;
  ahead->batch_bytes = batch_bytes;
  ahead->pending = input.time_key;
  ahead->fill = StartFillAhead(crew, FillBatch, ahead);
  if (ahead->fill == nullptr) {
    delete ahead;
    return nullptr;
  }
  return ahead;
}

std::string_view AheadLine(ParseAhead* ahead) {
  if (ahead->front == nullptr) TakeFront(ahead);
  const LineBatch& batch = *ahead->front;
  const size_t start = ahead->line == 0 ? 0 : batch.ends[ahead->line - 1];
  return {batch.text.data() + start, batch.ends[ahead->line] - start};
}

TimeKey AdvanceAhead(ParseAhead* ahead) {
  if (ahead->front == nullptr) TakeFront(ahead);
  if (++ahead->line < ahead->front->keys.size()) return ahead->front->keys[ahead->line];
  if (ahead->front_last) return NO_ENTRY;
  // Every batch but the last ends with an entry still pending, so the next one is not empty.
  ReleaseFront(ahead->fill);
  TakeFront(ahead);
  return ahead->front->keys[0];
}

void StopParseAhead(ParseAhead* ahead) {
  StopFillAhead(ahead->fill);
  delete ahead;
}
