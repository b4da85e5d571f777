#include "engine/line_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "engine/stop_waker.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace ostrel {
namespace {

constexpr std::size_t kCountBlockBytes = std::size_t{256} << 10;
// Compressed bytes are read in pieces of this size.
constexpr std::size_t kInputBytes = std::size_t{256} << 10;

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

InputFile::InputFile(const std::filesystem::path& path, const StopWaker* waker) : waker_(waker) {
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
  if (regular_) size_at_open_ = static_cast<std::uint64_t>(info.st_size);
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
  // Fill the whole buffer from a regular file (a short read is no end there).
  while (done < size) {
    // A pipe or terminal may hold the read for as long as the writer likes; a stop request
    // ends the wait, and what was read so far counts as the end of the input.
    if (!regular_ && waker_ != nullptr && !waker_->Wait(fd_, POLLIN)) break;
    const ssize_t got = ::read(fd_, buffer + done, size - done);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
      bytes_read_ += static_cast<std::uint64_t>(got);
      // A pipe gives what its writer has sent so far: lines are analysed as they come
      // (`tail -f | ostrel-cli scan -`), not once a whole block has arrived.
      if (!regular_) break;
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN && done > 0) break;
    throw InputError(ErrnoText(errno));
  }
  return done;
}

bool InputFile::Shrank() const {
  if (!regular_) return false;
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && static_cast<std::uint64_t>(info.st_size) < size_at_open_) {
    return true;
  }
  return bytes_read_ < size_at_open_;
}

LogStream::LogStream(InputFile& file)
    : file_(file), input_(MakeReadBuffer<unsigned char>(kInputBytes)) {
  // The magic bytes: at most six, but a pipe may give them a few at a time.
  while (input_end_ < 6 && Refill()) {
  }
  compression_ = DetectCompression(
      {reinterpret_cast<const char*>(input_.get()) + input_begin_, input_end_ - input_begin_});
  if (compression_ != Compression::kNone) {
    try {
      decompressor_ = Decompressor::For(compression_);
    } catch (const std::runtime_error& error) {
      throw InputError(error.what());
    }
  }
}

LogStream::~LogStream() = default;

bool LogStream::Refill() {
  if (file_done_) return false;
  if (input_begin_ > 0) {
    std::memmove(input_.get(), input_.get() + input_begin_, input_end_ - input_begin_);
    input_end_ -= input_begin_;
    input_begin_ = 0;
  }
  if (input_end_ == kInputBytes) return true;
  const std::size_t got =
      file_.Read(reinterpret_cast<char*>(input_.get()) + input_end_, kInputBytes - input_end_);
  if (got == 0) {
    file_done_ = true;
    return false;
  }
  input_end_ += got;
  return true;
}

std::string_view LogStream::Peek() {
  while (peeked_.size() - peeked_begin_ < kPeekBytes) {
    const std::size_t have = peeked_.size();
    peeked_.resize(peeked_begin_ + kPeekBytes);
    const std::size_t got = compression_ == Compression::kNone
                                ? ReadPlain(peeked_.data() + have, peeked_.size() - have)
                                : ReadCompressed(peeked_.data() + have, peeked_.size() - have);
    peeked_.resize(have + got);
    // From a pipe, what arrived first is enough to tell text from binary.
    if (got == 0 || !file_.regular()) break;
  }
  return std::string_view(peeked_).substr(peeked_begin_);
}

std::size_t LogStream::Read(char* buffer, std::size_t size) {
  if (peeked_begin_ < peeked_.size()) {
    const std::size_t n = std::min(size, peeked_.size() - peeked_begin_);
    std::memcpy(buffer, peeked_.data() + peeked_begin_, n);
    peeked_begin_ += n;
    if (peeked_begin_ == peeked_.size()) {
      peeked_.clear();
      peeked_begin_ = 0;
    }
    return n;
  }
  return compression_ == Compression::kNone ? ReadPlain(buffer, size)
                                            : ReadCompressed(buffer, size);
}

std::size_t LogStream::ReadPlain(char* buffer, std::size_t size) {
  if (input_begin_ < input_end_) {
    const std::size_t n = std::min(size, input_end_ - input_begin_);
    std::memcpy(buffer, input_.get() + input_begin_, n);
    input_begin_ += n;
    return n;
  }
  return file_done_ ? 0 : file_.Read(buffer, size);
}

std::size_t LogStream::ReadCompressed(char* buffer, std::size_t size) {
  auto* out = reinterpret_cast<unsigned char*>(buffer);
  std::size_t out_left = size;
  while (out_left == size && !stream_done_) {
    if (input_begin_ == input_end_) Refill();
    const unsigned char* in = input_.get() + input_begin_;
    std::size_t in_left = input_end_ - input_begin_;
    const std::size_t in_before = in_left;
    const std::size_t out_before = out_left;
    bool ended;
    try {
      ended = decompressor_->Step(in, in_left, out, out_left);
    } catch (const std::runtime_error& error) {
      throw InputError(error.what());
    }
    input_begin_ += in_before - in_left;
    if (ended) {
      // Another member or frame of the same kind may follow (`cat a.gz b.gz`); anything
      // else after the end is not ours to read, as gzip ignores trailing garbage.
      while (input_end_ - input_begin_ < 6 && Refill()) {
      }
      const std::string_view next(reinterpret_cast<const char*>(input_.get()) + input_begin_,
                                  input_end_ - input_begin_);
      if (DetectCompression(next) == compression_) {
        decompressor_->Restart();
      } else {
        stream_done_ = true;
      }
      continue;
    }
    if (in_before == in_left && out_before == out_left) {
      // No progress: the decompressor wants more than we hold.
      const std::size_t held = input_end_ - input_begin_;
      if (!Refill() || input_end_ - input_begin_ == held) {
        throw InputError(std::string(CompressionName(compression_)) +
                         " 数据不完整：文件在压缩流结束之前就结束了");
      }
    }
  }
  return size - out_left;
}

namespace {

// The LF bytes of `blocks` blocks of 16 bytes from `p`, and whether one of them is
// kEndOfFileByte. At most 255 blocks, so the per-byte counters cannot overflow.
#ifdef __SSE2__
std::uint64_t FeedsOfBlocks16(const char* p, std::size_t blocks, bool& end_byte) {
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i end_of_file = _mm_set1_epi8(kEndOfFileByte);
  __m128i lanes = _mm_setzero_si128();
  __m128i ends = _mm_setzero_si128();
  for (std::size_t i = 0; i < blocks; ++i, p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(block, newline));
    ends = _mm_or_si128(ends, _mm_cmpeq_epi8(block, end_of_file));
  }
  end_byte = _mm_movemask_epi8(ends) != 0;
  const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(sums)) +
         static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
}
#endif

// The same for blocks of 32 bytes, on CPUs with AVX2 (most since 2013): the count takes
// half the time of the 16-byte blocks.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define OSTREL_HAVE_AVX2_COUNT 1
__attribute__((target("avx2"))) std::uint64_t FeedsOfBlocks32(const char* p, std::size_t blocks,
                                                              bool& end_byte) {
  const __m256i newline = _mm256_set1_epi8('\n');
  const __m256i end_of_file = _mm256_set1_epi8(kEndOfFileByte);
  __m256i lanes = _mm256_setzero_si256();
  __m256i ends = _mm256_setzero_si256();
  for (std::size_t i = 0; i < blocks; ++i, p += 32) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    lanes = _mm256_sub_epi8(lanes, _mm256_cmpeq_epi8(block, newline));
    ends = _mm256_or_si256(ends, _mm256_cmpeq_epi8(block, end_of_file));
  }
  end_byte = _mm256_movemask_epi8(ends) != 0;
  const __m256i sums = _mm256_sad_epu8(lanes, _mm256_setzero_si256());
  return static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 0)) +
         static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 1)) +
         static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 2)) +
         static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 3));
}
#endif

bool CpuHasAvx2() {
#ifdef OSTREL_HAVE_AVX2_COUNT
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

// The LFs of `text`; with `stop_at_end`, only those before its first kEndOfFileByte, and
// where that byte is. One pass either way: a round of blocks that holds the end byte is
// counted again byte by byte up to it.
FeedCount CountFeeds(std::string_view text, bool stop_at_end) {
  const char* p = text.data();
  std::size_t left = text.size();
  std::uint64_t feeds = 0;
  const auto round = [&](std::size_t block_size, auto&& count_blocks) -> bool {
    while (left >= block_size) {
      const std::size_t blocks = std::min<std::size_t>(left / block_size, 255);
      bool end_byte = false;
      const std::uint64_t counted = count_blocks(p, blocks, end_byte);
      if (end_byte && stop_at_end) return false;
      feeds += counted;
      p += blocks * block_size;
      left -= blocks * block_size;
    }
    return true;
  };
  [[maybe_unused]] bool clean = true;
#ifdef OSTREL_HAVE_AVX2_COUNT
  if (CpuHasAvx2()) clean = round(32, FeedsOfBlocks32);
#endif
#ifdef __SSE2__
  if (clean) clean = round(16, FeedsOfBlocks16);
#endif
  for (; left > 0; --left, ++p) {
    if (stop_at_end && *p == kEndOfFileByte) {
      return {feeds, static_cast<std::size_t>(p - text.data())};
    }
    feeds += *p == '\n';
  }
  return {feeds, std::string_view::npos};
}

}  // namespace

FeedCount CountFeedsBeforeEnd(std::string_view text) { return CountFeeds(text, true); }

std::uint64_t CountLineFeeds(std::string_view text) { return CountFeeds(text, false).feeds; }

std::uint64_t CountLinesOfTail(std::string_view text) {
  const std::uint64_t feeds = CountLineFeeds(text);
  const bool open_tail = !text.empty() && text.back() != '\n';
  return feeds + (open_tail ? 1 : 0);
}

std::uint64_t CountFileLines(const std::filesystem::path& path) {
  InputFile file(path);
  const ReadBuffer<char> buffer = MakeReadBuffer<char>(kCountBlockBytes);
  std::uint64_t lines = 0;
  char last = '\n';
  for (;;) {
    std::size_t got = file.Read(buffer.get(), kCountBlockBytes);
    if (got == 0) break;
    const FeedCount counted = CountFeedsBeforeEnd({buffer.get(), got});
    const bool ended = counted.end_byte != std::string_view::npos;
    if (ended) got = counted.end_byte;
    lines += counted.feeds;
    if (got > 0) last = buffer[got - 1];
    if (ended) break;
  }
  return lines + (last != '\n' ? 1 : 0);
}

ChunkReader::ChunkReader(LogStream& stream, std::size_t block_size)
    : stream_(stream), block_size_(std::max<std::size_t>(block_size, 4096)) {}

bool ChunkReader::Next(Chunk& chunk) {
  if (done_) return false;
  // The carried start of a line goes just before an aligned offset, where the read goes.
  const std::size_t begin = PaddingBeforeCarry(carry_.size());
  const std::size_t want = std::max(block_size_, carry_.size() * 2) + kReadAlignment;
  if (chunk.capacity < want) {
    chunk.bytes = MakeReadBuffer<char>(want);
    chunk.capacity = want;
  }
  chunk.begin = begin;
  std::memcpy(chunk.data(), carry_.data(), carry_.size());
  chunk.size = carry_.size();
  chunk.last = false;
  carry_.clear();
  // The start of a very long line needed a large carry; ordinary ones do not.
  if (carry_.capacity() > 4 * block_size_) std::string().swap(carry_);
  std::size_t searched = chunk.size;  // the carried bytes hold no LF
  for (;;) {
    if (chunk.begin + chunk.size == chunk.capacity) {
      if (chunk.capacity >= kMaxLineBytes) {
        done_ = true;
        throw LineTooLongError("行长超过 " + std::to_string(kMaxLineBytes >> 20) + " MiB");
      }
      // A line longer than the block: grow until it fits.
      const std::size_t grown = std::min(chunk.capacity * 2, kMaxLineBytes);
      ReadBuffer<char> bytes = MakeReadBuffer<char>(grown);
      std::memcpy(bytes.get() + chunk.begin, chunk.data(), chunk.size);
      chunk.bytes = std::move(bytes);
      chunk.capacity = grown;
    }
    std::size_t got;
    try {
      got = stream_.Read(chunk.data() + chunk.size, chunk.capacity - chunk.begin - chunk.size);
    } catch (...) {
      done_ = true;
      throw;
    }
    if (got == 0) {
      done_ = true;
      chunk.last = true;
      return chunk.size > 0;
    }
    const char* fresh = chunk.data() + chunk.size;
    const void* end_byte = std::memchr(fresh, kEndOfFileByte, got);
    if (end_byte != nullptr) {
      chunk.size += static_cast<const char*>(end_byte) - fresh;
      done_ = true;
      chunk.last = true;
      return chunk.size > 0;
    }
    chunk.size += got;
    const char* base = chunk.data();
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
