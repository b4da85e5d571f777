#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

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

// An input file open for reading. The path "-" means standard input, which is read but
// never closed.
class InputFile {
 public:
  // Opens `path`. Throws InputError when it cannot be opened or is a folder.
  explicit InputFile(const std::filesystem::path& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads up to `size` bytes into `buffer`; gives 0 at the end of the file. Retries on
  // interruption. Throws InputError on a read error.
  std::size_t Read(char* buffer, std::size_t size);

  // Whether this is a regular file, which can be read twice (counting, then analysing);
  // standard input, pipes and devices cannot.
  bool regular() const { return regular_; }

 private:
  int fd_ = -1;
  bool regular_ = false;
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
  std::unique_ptr<char[]> bytes;
  std::size_t capacity = 0;
  std::size_t size = 0;
  bool last = false;  // the block ends the file; its tail without LF is a line

  std::string_view text() const { return {bytes.get(), size}; }
};

// Cuts a file into blocks of whole lines, each ending with an LF except the last one.
class ChunkReader {
 public:
  // Lines longer than this stop the run instead of exhausting memory.
  static constexpr std::size_t kMaxLineBytes = std::size_t{256} << 20;

  // Reads `file` in blocks of about `block_size` bytes.
  ChunkReader(InputFile& file, std::size_t block_size);

  // Fills `chunk` (reusing its buffer) with the next block of lines; gives false when the
  // file has no more. Throws InputError on a read error and LineTooLongError for a line
  // above kMaxLineBytes; either concerns the line after the last one given so far.
  bool Next(Chunk& chunk);

 private:
  InputFile& file_;
  std::size_t block_size_;
  std::string carry_;  // the start of a line cut off by the previous block
  bool done_ = false;
};

// The number of LF bytes in `text`, at memory speed.
std::uint64_t CountLineFeeds(std::string_view text);

// A line too long to hold; what() says so, without the file.
class LineTooLongError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace ostrel
