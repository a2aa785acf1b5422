#include "base/text.h"

int32_t ParseSignedDecimal(const char* text) {
  bool negative = false;
  if (*text == '-') {
    negative = true;
    ++text;
  }
  uint32_t value = 0;  // unsigned so that overflow wraps instead of being undefined
  for (; IsDigit(*text); ++text) value = value * 10u + static_cast<uint32_t>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);  // two's complement conversion (C++20)
}

void UpperCaseInPlace(char* text) {
  for (; *text != '\0'; ++text) *text = ToUpperAscii(*text);
}
