#include "driver/memory_budget.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "input/input.h"
#include "input/read_ahead.h"
#include "platform/system.h"

namespace {

// What the decoder of the file `name` will hold, from its first bytes; 0 for plain text,
// and for what is not a regular file or cannot be read now (opening it later says why).
int64_t DecoderMemoryOf(const char* name) {
  RegularFileOpen outcome = RegularFileOpen::Failed;
  std::FILE* file = OpenRegularFile(name, std::numeric_limits<int64_t>::max(), outcome);
  if (file == nullptr) return 0;
  unsigned char head[IN_MEMORY_HEAD];
  const size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  return INDecoderMemory(head, static_cast<int32_t>(got));
}

}  // namespace

int InputsWithinBudget(const MergeInput* inputs, int count, int64_t budget) {
  int64_t total = 0;
  int64_t largest = 0;
  for (int i = 0; i < count; ++i) {
    const int64_t need = DecoderMemoryOf(inputs[i].name);
    total += need;
    largest = std::max(largest, need);
  }
  if (total <= budget) return 0;
  return static_cast<int>(std::clamp<int64_t>(budget / largest, 1, count));
}

int ReadAheadWithinBudget(int64_t budget, int most) {
  const int64_t each = int64_t{2} * READ_AHEAD_BLOCK;
  return static_cast<int>(std::clamp<int64_t>(budget / 2 / each, 1, most));
}
