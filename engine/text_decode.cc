#include "engine/text_decode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "ipdb/gbk.h"

namespace ostrel {

bool IsAsciiText(std::string_view text) {
  const char* p = text.data();
  std::size_t left = text.size();
#ifdef __SSE2__
  // Log lines are overwhelmingly ASCII: 64 bytes at a time, then 8.
  while (left >= 64) {
    const auto* block = reinterpret_cast<const __m128i*>(p);
    const __m128i any =
        _mm_or_si128(_mm_or_si128(_mm_loadu_si128(block), _mm_loadu_si128(block + 1)),
                     _mm_or_si128(_mm_loadu_si128(block + 2), _mm_loadu_si128(block + 3)));
    if (_mm_movemask_epi8(any) != 0) return false;
    p += 64;
    left -= 64;
  }
#endif
  while (left >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ULL) return false;
    p += 8;
    left -= 8;
  }
  for (; left > 0; --left, ++p) {
    if (static_cast<unsigned char>(*p) & 0x80) return false;
  }
  return true;
}

bool LooksLikeBinary(std::string_view head) {
  std::size_t start = 0;
  while (start < head.size() && head[start] == '\0') ++start;
  head.remove_prefix(start);
  if (head.empty()) return false;
  std::size_t odd = 0;
  for (const char c : head) {
    const auto code = static_cast<unsigned char>(c);
    // Tab, line feed, vertical tab, form feed, carriage return, escape and Ctrl-Z (the end
    // of a text file) are text.
    if (code < 0x20 && code != '\t' && code != '\n' && code != 0x0B && code != 0x0C &&
        code != '\r' && code != 0x1B && code != 0x1A) {
      ++odd;
    }
  }
  return odd * 20 > head.size();
}

std::string_view DecodeLine(std::string_view raw, std::string& scratch) {
  if (IsAsciiText(raw) || IsValidUtf8(raw)) return raw;
  scratch = GbkToUtf8(raw);
  return scratch;
}

std::string_view DropCarriageReturns(char* line, std::size_t size) {
  if (size > 0 && line[size - 1] == '\r') --size;
  char* cr = static_cast<char*>(std::memchr(line, '\r', size));
  if (cr == nullptr) return {line, size};
  char* out = cr;
  for (const char* in = cr; in != line + size; ++in) {
    if (*in != '\r') *out++ = *in;
  }
  return {line, static_cast<std::size_t>(out - line)};
}

namespace {

// Whether `text` is ASCII without a CR.
bool IsAsciiWithoutCarriageReturn(std::string_view text) {
  const char* p = text.data();
  const std::size_t size = text.size();
#ifdef __SSE2__
  if (size >= 16) {
    // A byte from 0x80 on has its top bit; a CR becomes 0xFF.
    const auto odd = [](const char* at) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      return _mm_or_si128(bytes, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
    };
    std::size_t i = 0;
    for (; i + 32 <= size; i += 32) {
      if (_mm_movemask_epi8(_mm_or_si128(odd(p + i), odd(p + i + 16))) != 0) return false;
    }
    // Under 32 bytes are left: the sixteen after the loop (or the last sixteen, when fewer
    // remain) and the last sixteen, overlapping what was looked at, so no byte-by-byte tail.
    const char* last = p + size - 16;
    return _mm_movemask_epi8(_mm_or_si128(odd(std::min(p + i, last)), odd(last))) == 0;
  }
#endif
  for (std::size_t i = 0; i < size; ++i) {
    if ((static_cast<unsigned char>(p[i]) & 0x80) != 0 || p[i] == '\r') return false;
  }
  return true;
}

}  // namespace

std::string_view InputLineText(char* line, std::size_t size, std::string& scratch) {
  // The CR of a CRLF line end, first: Windows servers end every line so.
  if (size > 0 && line[size - 1] == '\r') --size;
  if (IsAsciiWithoutCarriageReturn({line, size})) return {line, size};
  return DecodeLine(DropCarriageReturns(line, size), scratch);
}

}  // namespace ostrel
