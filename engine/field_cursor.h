#pragma once

// Internal to engine/: how log lines are cut into fields.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ostrel {

// Codes 0 to 32 are trimmed from both ends of a line.
inline bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }
// Fields are separated by runs of codes 1 to 32.
inline bool IsFieldSeparator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

inline std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

// One bit per byte of the (up to) 64 bytes of `text` from `block` on: set for codes 1 to 32,
// and for the positions past the end of the text. Reads only bytes of `text`.
inline std::uint64_t SeparatorBits(std::string_view text, std::size_t block) {
  constexpr std::size_t kBlock = 64;
  const std::size_t size = std::min(kBlock, text.size() - block);
  const char* bytes = text.data() + block;
  std::uint64_t bits = 0;
  std::size_t at = 0;
#ifdef __SSE2__
  const auto sixteen = [](const char* from) -> std::uint64_t {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    // Codes 1 to 32 are those that are at most 31 after subtracting 1 (0 wraps to 255).
    const __m128i less_one = _mm_sub_epi8(chunk, _mm_set1_epi8(1));
    const __m128i separator = _mm_cmpeq_epi8(_mm_min_epu8(less_one, _mm_set1_epi8(31)), less_one);
    return static_cast<unsigned>(_mm_movemask_epi8(separator));
  };
  for (; at + 16 <= size; at += 16) bits |= sixteen(bytes + at) << at;
  if (at < size && size >= 16) {
    // The last sixteen bytes, overlapping some already done: no copy of a short tail.
    bits |= sixteen(bytes + size - 16) << (size - 16);
    at = size;
  }
#endif
  for (; at < size; ++at) {
    if (IsFieldSeparator(bytes[at])) bits |= std::uint64_t{1} << at;
  }
  if (size < kBlock) bits |= ~std::uint64_t{0} << size;
  return bits;
}

// Calls on_field(field, offset) for the fields of `text` (the stretches between runs of
// codes 1 to 32) in order, while it returns true. Finds them 64 bytes at a time from bit masks of
// the separators, so a line of many short fields costs a few instructions per field.
template <typename OnField>
void ForEachField(std::string_view text, OnField&& on_field) {
  constexpr std::size_t kBlock = 64;
  constexpr std::size_t kNone = SIZE_MAX;
  std::size_t open = kNone;            // where the field being read began
  std::uint64_t separator_before = 1;  // whether the byte before the block is a separator
  for (std::size_t block = 0; block < text.size(); block += kBlock) {
    const std::uint64_t separators = SeparatorBits(text, block);
    const std::uint64_t after_separator = (separators << 1) | separator_before;
    std::uint64_t starts = ~separators & after_separator;
    std::uint64_t ends = separators & ~after_separator;
    for (;;) {
      if (open == kNone) {
        if (starts == 0) break;
        open = block + static_cast<std::size_t>(std::countr_zero(starts));
        starts &= starts - 1;
      } else {
        if (ends == 0) break;
        const std::size_t end = block + static_cast<std::size_t>(std::countr_zero(ends));
        ends &= ends - 1;
        if (!on_field(text.substr(open, end - open), open)) return;
        open = kNone;
      }
    }
    separator_before = separators >> 63;
  }
  if (open != kNone) on_field(text.substr(open), open);
}

// The first field of `text`; empty when it has none.
inline std::string_view FirstField(std::string_view text) {
  std::string_view first;
  ForEachField(text, [&](std::string_view field, std::size_t) {
    first = field;
    return false;
  });
  return first;
}

inline std::size_t CountFields(std::string_view text) {
  std::size_t count = 0;
  ForEachField(text, [&](std::string_view, std::size_t) {
    ++count;
    return true;
  });
  return count;
}

// Lower-cases A-Z only; every other byte stays.
inline char LowerAscii(char c) {
  return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i) {
    if (LowerAscii(text[i]) != lower_prefix[i]) return false;
  }
  return true;
}

}  // namespace ostrel
