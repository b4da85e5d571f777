#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/hit_sink.h"
#include "engine/options.h"

namespace ostrel {

// A failure to create, write or close the result file. what() is the system's reason.
class ResultWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The result file is being written by another run (its lock is held). what() says so.
class ResultBusyError : public ResultWriteError {
 public:
  using ResultWriteError::ResultWriteError;
};

class StopWaker;

// Appends `line` in `encoding` (UTF-8 as it is, or GBK) followed by CR LF to `out`.
void AppendResultLine(std::string_view line, ResultEncoding encoding, std::string& out);

// The result file: written in place from its start, through a large buffer, every write and
// the close checked. The path "-" writes to standard output (which is flushed, not closed).
// A regular file is locked (flock) while the writer lives, so that a second run writing
// the same file is refused instead of emptying it under the first.
class ResultWriter {
 public:
  // Opens `path` and empties it (a symbolic link of that name is replaced by a file; a
  // FIFO or device is written to, never removed). Opening a FIFO waits for its reader; with
  // a `waker` (which must outlive the writer) that wait, and every later wait of a write to
  // a pipe, ends at a stop request with ResultWriteError. Throws ResultBusyError when
  // another process holds the file's lock, ResultWriteError when it cannot be opened.
  explicit ResultWriter(const std::filesystem::path& path, const StopWaker* waker = nullptr);
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
  bool waits_ = false;  // a pipe or FIFO: writes wait with the waker
  const StopWaker* waker_ = nullptr;
  std::string buffer_;
  std::string failure_;  // the first write error, repeated on later calls
};

// The result file as a consumer of hits: the header line, then every hit's output line,
// each in the run's encoding and ended by CR LF.
class ResultFileSink : public HitSink {
 public:
  // Opens the file as ResultWriter does; throws as it does.
  ResultFileSink(const std::filesystem::path& path, ResultEncoding encoding,
                 const StopWaker* waker = nullptr);

  void Header(std::string_view header) override;
  void Hit(const HitRecord& hit) override;
  // Flushes and closes. Throws ResultWriteError.
  void Finish(const RunSummary& summary) override;
  std::string OutputName() const override;

 private:
  std::filesystem::path path_;
  ResultEncoding encoding_;
  ResultWriter writer_;
  std::string scratch_;
};

}  // namespace ostrel
