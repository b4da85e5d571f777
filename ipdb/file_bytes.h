#pragma once

// A whole file's bytes in memory. The buffer is left uninitialised when it is allocated
// (the file is read over it at once) and, from 2 MiB on, asks for transparent huge pages:
// a database of megabytes is then faulted in a few pages instead of thousands, which is
// most of what opening it costs.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace ostrel {

namespace file_bytes {
// Memory for `bytes` bytes: huge-page backed from 2 MiB on. Throws std::bad_alloc.
void* Allocate(std::size_t bytes);
void Free(void* memory, std::size_t bytes) noexcept;
}  // namespace file_bytes

template <typename T>
struct FileBytesAllocator {
  using value_type = T;
  FileBytesAllocator() = default;
  template <typename U>
  FileBytesAllocator(const FileBytesAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    return static_cast<T*>(file_bytes::Allocate(count * sizeof(T)));
  }
  void deallocate(T* memory, std::size_t count) noexcept {
    file_bytes::Free(memory, count * sizeof(T));
  }
  // Value-initialisation by the vector leaves the bytes as they are.
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const FileBytesAllocator<U>&) const noexcept {
    return true;
  }
};

using FileBytes = std::vector<unsigned char, FileBytesAllocator<unsigned char>>;

}  // namespace ostrel
