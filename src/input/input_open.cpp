// INOpen lives apart from the rest of the input module so that code using only INAttach
// (tests, fuzzing) does not need the file-specification module linked in.
#include "input/input.h"

InputFile* INOpen(const FileSpec& spec, MemoryPool* pool, const char** not_read,
                  const char** damaged) {
  return INAttach(spec.Open("rb"), pool, not_read, damaged);
}
