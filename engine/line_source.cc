#include "engine/line_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace ostrel {
namespace {

constexpr std::size_t kCountBlockBytes = std::size_t{1} << 20;

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

InputFile::InputFile(const std::filesystem::path& path) {
  if (path == "-") {
    fd_ = 0;
    return;
  }
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; it is cleared again
  // below so reads wait for data as usual.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw InputError(ErrnoText(errno));
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw InputError(ErrnoText(error));
  }
  regular_ = S_ISREG(info.st_mode);
  if (S_ISDIR(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw InputError(ErrnoText(EISDIR));
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

InputFile::~InputFile() {
  if (fd_ > 0) ::close(fd_);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  std::size_t done = 0;
  // Fill the whole buffer where the source allows, so pipes give blocks as large as files.
  while (done < size) {
    const ssize_t got = ::read(fd_, buffer + done, size - done);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN && done > 0) break;
    throw InputError(ErrnoText(errno));
  }
  return done;
}

std::uint64_t CountLineFeeds(std::string_view text) {
  const char* p = text.data();
  std::size_t left = text.size();
  std::uint64_t count = 0;
#ifdef __SSE2__
  const __m128i newline = _mm_set1_epi8('\n');
  while (left >= 16) {
    // Up to 255 rounds fit the per-byte counters before they are summed.
    const std::size_t rounds = std::min<std::size_t>(left / 16, 255);
    __m128i lanes = _mm_setzero_si128();
    for (std::size_t i = 0; i < rounds; ++i) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(block, newline));
      p += 16;
    }
    left -= rounds * 16;
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
             static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
  }
#endif
  for (; left > 0; --left, ++p) count += *p == '\n';
  return count;
}

std::uint64_t CountLinesOfTail(std::string_view text) {
  const std::uint64_t feeds = CountLineFeeds(text);
  const bool open_tail = !text.empty() && text.back() != '\n';
  return feeds + (open_tail ? 1 : 0);
}

std::uint64_t CountFileLines(const std::filesystem::path& path) {
  InputFile file(path);
  auto buffer = std::make_unique_for_overwrite<char[]>(kCountBlockBytes);
  std::uint64_t lines = 0;
  char last = '\n';
  for (;;) {
    std::size_t got = file.Read(buffer.get(), kCountBlockBytes);
    if (got == 0) break;
    const void* end_byte = std::memchr(buffer.get(), kEndOfFileByte, got);
    if (end_byte != nullptr) got = static_cast<const char*>(end_byte) - buffer.get();
    if (got > 0) {
      lines += CountLineFeeds({buffer.get(), got});
      last = buffer[got - 1];
    }
    if (end_byte != nullptr) break;
  }
  return lines + (last != '\n' ? 1 : 0);
}

ChunkReader::ChunkReader(InputFile& file, std::size_t block_size)
    : file_(file), block_size_(std::max<std::size_t>(block_size, 4096)) {}

bool ChunkReader::Next(Chunk& chunk) {
  if (done_) return false;
  std::size_t want = std::max(block_size_, carry_.size() * 2);
  if (chunk.capacity < want) {
    chunk.bytes = std::make_unique_for_overwrite<char[]>(want);
    chunk.capacity = want;
  }
  std::memcpy(chunk.bytes.get(), carry_.data(), carry_.size());
  chunk.size = carry_.size();
  chunk.last = false;
  carry_.clear();
  std::size_t searched = chunk.size;  // the carried bytes hold no LF
  for (;;) {
    if (chunk.size == chunk.capacity) {
      if (chunk.capacity >= kMaxLineBytes) {
        done_ = true;
        throw LineTooLongError("行长超过 " + std::to_string(kMaxLineBytes >> 20) + " MiB");
      }
      // A line longer than the block: grow until it fits.
      const std::size_t grown = std::min(chunk.capacity * 2, kMaxLineBytes);
      auto bytes = std::make_unique_for_overwrite<char[]>(grown);
      std::memcpy(bytes.get(), chunk.bytes.get(), chunk.size);
      chunk.bytes = std::move(bytes);
      chunk.capacity = grown;
    }
    std::size_t got;
    try {
      got = file_.Read(chunk.bytes.get() + chunk.size, chunk.capacity - chunk.size);
    } catch (...) {
      done_ = true;
      throw;
    }
    if (got == 0) {
      done_ = true;
      chunk.last = true;
      return chunk.size > 0;
    }
    const char* fresh = chunk.bytes.get() + chunk.size;
    const void* end_byte = std::memchr(fresh, kEndOfFileByte, got);
    if (end_byte != nullptr) {
      chunk.size += static_cast<const char*>(end_byte) - fresh;
      done_ = true;
      chunk.last = true;
      return chunk.size > 0;
    }
    chunk.size += got;
    const char* base = chunk.bytes.get();
    const void* last_feed = ::memrchr(base + searched, '\n', chunk.size - searched);
    searched = chunk.size;
    if (last_feed == nullptr) continue;
    const std::size_t end = static_cast<const char*>(last_feed) - base + 1;
    carry_.assign(base + end, chunk.size - end);
    chunk.size = end;
    return true;
  }
}

}  // namespace ostrel
