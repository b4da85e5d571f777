#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/options.h"

namespace ostrel {

// A failure to create, write or close the result file. what() is the system's reason.
class ResultWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends `line` in `encoding` (UTF-8 as it is, or GBK) followed by CR LF to `out`.
void AppendResultLine(std::string_view line, ResultEncoding encoding, std::string& out);

// The result file: created afresh, written through a large buffer, every write and the
// close checked. The path "-" writes to standard output (which is flushed, not closed).
class ResultWriter {
 public:
  // Deletes an older regular file of that name and creates the file empty. Throws
  // ResultWriteError when it cannot.
  explicit ResultWriter(const std::filesystem::path& path);
  // Closes the file without reporting; call Close() to learn whether it worked.
  ~ResultWriter();
  ResultWriter(const ResultWriter&) = delete;
  ResultWriter& operator=(const ResultWriter&) = delete;

  // Queues bytes already encoded and ended; writes when the buffer is full. Throws
  // ResultWriteError; after a failure every later call throws again.
  void Append(std::string_view bytes);
  // Writes everything queued. Throws ResultWriteError.
  void Flush();
  // Flushes and closes. Throws ResultWriteError (a full disk may only show here).
  void Close();

 private:
  void WriteOut(const char* data, std::size_t size);

  int fd_ = -1;
  bool owns_fd_ = false;
  std::string buffer_;
  std::string failure_;  // the first write error, repeated on later calls
};

}  // namespace ostrel
