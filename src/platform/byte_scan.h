#pragma once
// Scanning text for a few bytes at once, 16 bytes a step where the processor has vectors
// for it (SSE2, on every x86-64), byte by byte elsewhere; and telling valid UTF-8 apart
// from other bytes.

#include <bit>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The offset of the first of the `size` bytes at `p` that is `a`, is `b`, or is at most
// `low` read as unsigned (a control byte, say); `size` when there is none. Reads no byte
// outside the `size`.
inline size_t FindByteOrLow(const char* p, size_t size, char a, char b, unsigned char low) {
  size_t at = 0;
#if defined(__SSE2__)
  if (size >= 16) {
    const __m128i first = _mm_set1_epi8(a);
    const __m128i second = _mm_set1_epi8(b);
    const __m128i lowest = _mm_set1_epi8(static_cast<char>(low));
    const auto hits = [&](size_t offset) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
      const __m128i found =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, first), _mm_cmpeq_epi8(v, second)),
                       _mm_cmpeq_epi8(_mm_min_epu8(v, lowest), v));
      return static_cast<unsigned>(_mm_movemask_epi8(found));
    };
    for (; at + 16 <= size; at += 16) {
      if (const unsigned mask = hits(at)) return at + static_cast<size_t>(std::countr_zero(mask));
    }
    // The last bytes: the 16 that end the text, those before `at` known to hold none.
    if (at < size) {
      const size_t last = size - 16;
      if (const unsigned mask = hits(last)) {
        return last + static_cast<size_t>(std::countr_zero(mask));
      }
    }
    return size;
  }
#endif
  for (; at < size; ++at) {
    const char c = p[at];
    if (c == a || c == b || static_cast<unsigned char>(c) <= low) return at;
  }
  return size;
}

// The length of the valid UTF-8 sequence at `p` (RFC 3629: no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0 when the byte there does not begin one. Reads no byte at or
// past `end`.
inline size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
  const auto follows = [&](size_t i, unsigned char low, unsigned char high) {
    return p + i < end && p[i] >= low && p[i] <= high;
  };
  const unsigned char c = *p;
  if (c >= 0xC2 && c <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const unsigned char low = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const unsigned char low = c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xF4 ? 0x8F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}
