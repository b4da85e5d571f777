#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/options.h"

namespace ostrel {

class TQQWry;

// Receives what a run reports while it works. Every call comes from the thread that
// called RunAnalysis, never from a worker, in this order per file: FileStarted, any
// number of LineProgress, FileFinished. Front ends render at their own pace.
class RunSink {
 public:
  virtual ~RunSink() = default;
  // The file at `index` (0-based, in input order) of `count` begins.
  virtual void FileStarted(std::size_t /*index*/, std::size_t /*count*/,
                           const std::filesystem::path& /*path*/) {}
  // Lines 1..line_number of the current file are done; line_total is its line count
  // from the counting pass (0 for standard input, which cannot be read twice); hit_count
  // is the run's total so far. Reported after each block of lines, so often enough for a
  // live bar and never more than a front end can take.
  virtual void LineProgress(std::uint64_t /*line_number*/, std::uint64_t /*line_total*/,
                            std::uint64_t /*hit_count*/) {}
  // The file at `index` is finished ("完成").
  virtual void FileFinished(std::size_t /*index*/) {}
};

// What a finished (or stopped) run did.
struct RunSummary {
  std::size_t files = 0;    // files analysed to their end
  std::uint64_t lines = 0;  // lines read, skipped ones included
  std::uint64_t hits = 0;   // lines written to the result file
  bool stopped = false;     // the stop token ended the run early
};

// An error that stops a run. what() is a complete message for the user that names the
// file and, where there is one, the line; every hit found before it is in the result file.
class RunError : public std::runtime_error {
 public:
  RunError(const std::string& message, std::filesystem::path file, std::uint64_t line)
      : std::runtime_error(message), file_(std::move(file)), line_(line) {}
  const std::filesystem::path& file() const { return file_; }
  std::uint64_t line() const { return line_; }  // 0 when no line is concerned

 private:
  std::filesystem::path file_;
  std::uint64_t line_;
};

// Analyses `inputs` in order and writes the header line and every hit to `result_path`
// (replaced), CR LF line ends, in options.encoding. Throws RunError on an error that stops
// the run, after flushing and closing the result file. A stop request ends the run at the
// next line with the hits so far written, and the summary says stopped.
RunSummary RunAnalysis(const std::vector<std::filesystem::path>& inputs,
                       const std::filesystem::path& result_path, const RunOptions& options,
                       const TQQWry& ipdb, RunSink& sink, std::stop_token stop = {});

// The header line of the result file for a log type.
std::string_view ResultHeader(LogType log_type);

// The whole percentage of the progress text: r = done / total rounded to two places
// (ties to even), times 100, truncated.
int PercentDone(std::int64_t done, std::int64_t total);

// Status bar panel 1: " 比对【 n 】行，进度：p%， 检中 h 个。"
std::string StatusPanel1Text(std::uint64_t line_number, std::uint64_t line_total,
                             std::uint64_t hit_count);
// Status bar panel 2: "当前文件：name (i/n)".
std::string StatusPanel2Text(std::string_view file_name, std::size_t index_1based,
                             std::size_t count);

// The running program's default result file: 1.log in its data folder (FileLocations).
std::filesystem::path DefaultResultFilePath();

}  // namespace ostrel
