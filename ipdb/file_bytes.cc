#include "ipdb/file_bytes.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace ostrel::file_bytes {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool IsLarge(std::size_t bytes) { return bytes >= kHugePage; }
std::size_t RoundedUp(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
}  // namespace

void* Allocate(std::size_t bytes) {
  if (!IsLarge(bytes)) return ::operator new(bytes);
  if (bytes > SIZE_MAX - kHugePage) throw std::bad_alloc();
  void* memory = std::aligned_alloc(kHugePage, RoundedUp(bytes));
  if (memory == nullptr) throw std::bad_alloc();
  // Only advice: without huge pages the memory works all the same.
  (void)madvise(memory, RoundedUp(bytes), MADV_HUGEPAGE);
  return memory;
}

void Free(void* memory, std::size_t bytes) noexcept {
  if (IsLarge(bytes)) {
    std::free(memory);
  } else {
    ::operator delete(memory);
  }
}

}  // namespace ostrel::file_bytes
