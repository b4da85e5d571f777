#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/decompressor.h"
#include "engine/read_buffer.h"

namespace ostrel {

// Input files are read with read(2) in large blocks rather than mapped: a log truncated
// while we read it then ends early instead of raising SIGBUS.

// The byte that ends a text file (Ctrl-Z); nothing after it is read.
inline constexpr char kEndOfFileByte = '\x1A';

// A failure to open or read an input file. what() is the system's reason, without the file.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class StopWaker;

// An input file open for reading. The path "-" means standard input, which is read but
// never closed.
class InputFile {
 public:
  // Opens `path`. Throws InputError when it cannot be opened or is a folder. With a
  // `waker`, reads from a pipe, terminal or FIFO end early when a stop is requested (they
  // then give what they have, as at the end of the file); the waker must outlive the file.
  explicit InputFile(const std::filesystem::path& path, const StopWaker* waker = nullptr);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads up to `size` bytes into `buffer`: as many as a regular file has, what a pipe or
  // terminal holds now (waiting for some); gives 0 at the end of the file. Retries on
  // interruption. Throws InputError on a read error.
  std::size_t Read(char* buffer, std::size_t size);

  // Whether this is a regular file, which can be read twice (counting, then analysing);
  // standard input, pipes and devices cannot.
  bool regular() const { return regular_; }
  // A regular file's size when it was opened (0 for other files).
  std::uint64_t size_at_open() const { return size_at_open_; }
  // Bytes read so far.
  std::uint64_t bytes_read() const { return bytes_read_; }
  // Whether a regular file that was read to its end gave fewer bytes than it had when it
  // was opened: it was truncated while it was read.
  bool Shrank() const;

 private:
  int fd_ = -1;
  bool regular_ = false;
  std::uint64_t size_at_open_ = 0;
  std::uint64_t bytes_read_ = 0;
  const StopWaker* waker_ = nullptr;
};

// The text of an input file: its bytes as they are, or decompressed when they begin with
// the magic bytes of gzip, bzip2, xz or zstd.
class LogStream {
 public:
  // Reads the first bytes of `file` (which must outlive the stream) to learn its
  // compression. Throws InputError.
  explicit LogStream(InputFile& file);
  ~LogStream();
  LogStream(const LogStream&) = delete;
  LogStream& operator=(const LogStream&) = delete;

  // Reads up to `size` bytes of text into `buffer`; gives 0 at the end. Throws InputError
  // on a read error and for compressed data that is corrupt or cut off.
  std::size_t Read(char* buffer, std::size_t size);

  Compression compression() const { return compression_; }
  // The first bytes of the text, without consuming them: for telling text from binary.
  // Up to kPeekBytes; fewer at the end of the file, or what a pipe gave first.
  std::string_view Peek();

  static constexpr std::size_t kPeekBytes = 64 * 1024;

 private:
  std::size_t ReadPlain(char* buffer, std::size_t size);
  std::size_t ReadCompressed(char* buffer, std::size_t size);
  bool Refill();  // false at the end of the file

  InputFile& file_;
  Compression compression_ = Compression::kNone;
  std::unique_ptr<Decompressor> decompressor_;
  ReadBuffer<unsigned char> input_;  // bytes of the file not yet used
  std::size_t input_begin_ = 0;
  std::size_t input_end_ = 0;
  bool file_done_ = false;
  bool stream_done_ = false;  // the last member ended and nothing of ours follows
  std::string peeked_;        // text already decompressed for Peek(), served first
  std::size_t peeked_begin_ = 0;
};

// The number of lines of `text` when it is the whole file: every LF ends a line, and
// what follows the last LF is one more line when it is not empty. `text` must already end
// before the first kEndOfFileByte.
std::uint64_t CountLinesOfTail(std::string_view text);

// The counting pass: the number of lines of the file, by the rule of CountLinesOfTail
// over everything before the first kEndOfFileByte. Reads in large blocks and allocates
// one buffer. Throws InputError.
std::uint64_t CountFileLines(const std::filesystem::path& path);

// A block of whole lines of one file.
struct Chunk {
  ReadBuffer<char> bytes;
  std::size_t capacity = 0;
  std::size_t begin = 0;  // where the block starts in `bytes` (below kReadAlignment)
  std::size_t size = 0;
  bool last = false;  // the block ends the file; its tail without LF is a line

  char* data() { return bytes.get() + begin; }
  std::string_view text() const { return {bytes.get() + begin, size}; }
};

// Cuts a file into blocks of whole lines, each ending with an LF except the last one.
class ChunkReader {
 public:
  // Lines longer than this stop the run instead of exhausting memory.
  static constexpr std::size_t kMaxLineBytes = std::size_t{256} << 20;

  // Reads `stream` in blocks of about `block_size` bytes.
  ChunkReader(LogStream& stream, std::size_t block_size);

  // Fills `chunk` (reusing its buffer) with the next block of lines; gives false when the
  // file has no more. Throws InputError on a read error and LineTooLongError for a line
  // above kMaxLineBytes; either concerns the line after the last one given so far.
  bool Next(Chunk& chunk);

 private:
  LogStream& stream_;
  std::size_t block_size_;
  std::string carry_;  // the start of a line cut off by the previous block
  bool done_ = false;
};

// The number of LF bytes in `text`, at memory speed.
std::uint64_t CountLineFeeds(std::string_view text);

// The LF bytes of `text` before its first kEndOfFileByte, and where that byte is (npos
// when there is none): both found in one pass.
struct FeedCount {
  std::uint64_t feeds = 0;
  std::size_t end_byte = std::string_view::npos;
};
FeedCount CountFeedsBeforeEnd(std::string_view text);

// A line too long to hold; what() says so, without the file.
class LineTooLongError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace ostrel
