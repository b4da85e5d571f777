#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace ostrel {

// Buffers that read(2) fills. The kernel copies from the page cache several times faster
// into a destination on a 64-byte boundary than into one a few bytes past it (AMD EPYC:
// 256 MiB in 0.033 s at offset 0 or 32, 0.17 s at offset 16; a plain heap block of a
// megabyte starts 16 bytes into a page). Readers aim their reads at such a boundary.
inline constexpr std::size_t kReadAlignment = 64;

struct FreeReadBuffer {
  void operator()(void* bytes) const noexcept { std::free(bytes); }
};

template <typename Byte>
using ReadBuffer = std::unique_ptr<Byte[], FreeReadBuffer>;

// `count` uninitialised bytes starting on a page boundary. Throws std::bad_alloc.
template <typename Byte>
ReadBuffer<Byte> MakeReadBuffer(std::size_t count) {
  static_assert(sizeof(Byte) == 1, "a read buffer holds bytes");
  constexpr std::size_t kPage = 4096;
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (count + kPage - 1) / kPage * kPage;
  void* bytes = std::aligned_alloc(kPage, rounded == 0 ? kPage : rounded);
  if (bytes == nullptr) throw std::bad_alloc();
  return ReadBuffer<Byte>(static_cast<Byte*>(bytes));
}

// The padding that puts `carried` bytes before the next kReadAlignment boundary, so the
// read that follows them starts on it.
constexpr std::size_t PaddingBeforeCarry(std::size_t carried) {
  return (kReadAlignment - carried % kReadAlignment) % kReadAlignment;
}

}  // namespace ostrel
