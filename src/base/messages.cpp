#include "base/messages.h"

#include <cstdarg>

namespace {

std::FILE* message_stream = nullptr;  // null means standard output
bool failure_reported = false;

void SayList(const char* format, std::va_list args) {
  std::vfprintf(MessageStream(), format, args);
}

}  // namespace

void SetMessageStream(std::FILE* stream) {
  message_stream = stream;
}

std::FILE* MessageStream() {
  return message_stream != nullptr ? message_stream : stdout;
}

void Say(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  SayList(format, args);
  va_end(args);
}

void SayFailure(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  SayList(format, args);
  va_end(args);
  failure_reported = true;
}

void NoteFailure() {
  failure_reported = true;
}

bool FailureReported() {
  return failure_reported;
}

int ExitStatus() {
  return failure_reported ? 1 : 0;
}

void ResetMessages() {
  message_stream = nullptr;
  failure_reported = false;
}
