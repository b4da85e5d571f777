#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "engine/result_writer.h"

namespace ostrel {

// A file a hit sink writes, opened on first use: nothing is touched before the run has
// checked that it is none of the inputs. "-" is standard output. Writes through the
// result file's writer (large buffer, every write checked, a regular file locked while
// written).
class OutputFile {
 public:
  // With a `waker` (which must outlive the file), opening a FIFO that has no reader, and
  // writing to a full pipe, end at a stop request with ResultWriteError instead of waiting.
  explicit OutputFile(std::filesystem::path path, const StopWaker* waker = nullptr)
      : path_(std::move(path)), waker_(waker) {}

  // The writer, opening (and emptying) the file on the first call. Throws ResultWriteError.
  ResultWriter& Writer();
  // Whether Writer() has opened the file.
  bool opened() const { return writer_.has_value(); }
  // Opens the file if it was not, then flushes and closes it. Throws ResultWriteError.
  void Close();
  // The path for messages: "标准输出" for "-".
  std::string Name() const;

 private:
  std::filesystem::path path_;
  const StopWaker* waker_;
  std::optional<ResultWriter> writer_;
  bool closed_ = false;
};

}  // namespace ostrel
