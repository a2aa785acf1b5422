#include "base/messages.h"

#include <cstdarg>
#include <mutex>
#include <utility>

namespace {

std::FILE* message_stream = nullptr;  // null means standard output
bool quiet_run = false;
bool failure_reported = false;
bool input_lost = false;
void (*before_message)() = nullptr;
bool keep_problems = false;
std::vector<std::string> problems;  // guarded by problems_mutex: workers may say things too
std::mutex problems_mutex;

void Keep(const char* format, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) return;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::lock_guard lock(problems_mutex);
  problems.push_back(std::move(text));
}

void SayList(const char* format, std::va_list args, bool problem = true) {
  if (before_message != nullptr) before_message();
  if (problem && keep_problems) {
    std::va_list copy;
    va_copy(copy, args);
    Keep(format, copy);
    va_end(copy);
  }
  std::vfprintf(MessageStream(), format, args);
}

}  // namespace

void SetMessageStream(std::FILE* stream) {
  message_stream = stream;
}

std::FILE* MessageStream() {
  return message_stream != nullptr ? message_stream : stdout;
}

void SetBeforeMessage(void (*hook)()) {
  before_message = hook;
}

void SetQuiet(bool quiet) {
  quiet_run = quiet;
}

void Say(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  SayList(format, args);
  va_end(args);
}

void SayInfo(const char* format, ...) {
  if (quiet_run) return;
  std::va_list args;
  va_start(args, format);
  SayList(format, args, false);
  va_end(args);
}

void SayFailure(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  SayList(format, args);
  va_end(args);
  failure_reported = true;
}

void SayInputLost(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  SayList(format, args);
  va_end(args);
  input_lost = true;
}

void KeepProblems(bool keep) {
  keep_problems = keep;
}

bool KeepingProblems() {
  return keep_problems;
}

const std::vector<std::string>& ProblemsSaid() {
  return problems;
}

void NoteFailure() {
  failure_reported = true;
}

std::string EscapedName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
      continue;
    }
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\x1B':
        out += "\\e";
        break;
      default:
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
        break;
    }
  }
  return out;
}

bool FailureReported() {
  return failure_reported;
}

int ExitStatus() {
  if (failure_reported) return 1;
  return input_lost ? 2 : 0;
}

void ResetMessages() {
  message_stream = nullptr;
  quiet_run = false;
  failure_reported = false;
  input_lost = false;
  before_message = nullptr;
  keep_problems = false;
  problems.clear();
}

std::string Grouped(int64_t number) {
  const bool negative = number < 0;
  // -(number + 1) + 1 in unsigned arithmetic: the smallest int64_t has no positive twin.
  const uint64_t magnitude =
      negative ? static_cast<uint64_t>(-(number + 1)) + 1 : static_cast<uint64_t>(number);
  const std::string digits = std::to_string(magnitude);
  std::string grouped = negative ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}
