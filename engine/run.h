#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/hit_sink.h"
#include "engine/log_layout.h"
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

// What became of the lines of a file or a run.
struct LineCounts {
  std::uint64_t read = 0;            // every line, skipped ones included
  std::uint64_t examined = 0;        // reached the filters
  std::uint64_t comments = 0;        // skipped: a comment or directive line
  std::uint64_t wrong_shape = 0;     // skipped: not the shape the log type reads
  std::uint64_t other_protocol = 0;  // skipped: log type 2, a protocol other than "/1.1"
  std::uint64_t not_http = 0;        // skipped: no HTTP request at all
  std::uint64_t static_dropped = 0;  // dropped by the static-resource filter
  std::uint64_t status_dropped = 0;  // dropped by the status filter
  std::uint64_t limited = 0;         // no hit, but a rule test stopped at a match or depth limit
  std::uint64_t hits = 0;
  std::uint64_t unlocated = 0;  // hits written without their location (it would not fit)

  std::uint64_t skipped() const { return comments + wrong_shape + other_protocol + not_http; }
  LineCounts& operator+=(const LineCounts& other);
};

// What a run did with one input file.
struct FileSummary {
  std::filesystem::path path;
  LineCounts counts;
  LineLayout layout = LineLayout::kUnknown;  // of its first examined line
  LineLayout likely = LineLayout::kUnknown;  // what its first lines look like (auto rules)
  std::string compression;                   // "gzip", "bzip2", "xz", "zstd", or empty
  bool finished = false;                     // read to its end
  bool binary = false;                       // no text: skipped with a warning
  bool shrank = false;                       // it got shorter while it was read
};

// What a finished (or stopped) run did.
struct RunSummary {
  std::size_t files = 0;                            // files analysed to their end
  std::uint64_t lines = 0;                          // lines read, skipped ones included
  std::uint64_t hits = 0;                           // lines written to the result file
  bool stopped = false;                             // the stop token ended the run early
  LineCounts counts;                                // the sum over every file
  std::vector<FileSummary> per_file;                // in input order, as far as the run got
  LineLayout header_layout = LineLayout::kUnknown;  // the layout the result header names
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

// Where a run's hits go.
struct RunOutputs {
  RunOutputs() = default;
  // Only the result file.
  RunOutputs(std::filesystem::path result) : result_path(std::move(result)) {}  // NOLINT

  // The result file: "-" writes standard output, empty writes none.
  std::filesystem::path result_path;
  // Further consumers of every hit, after the result file; they must outlive the run.
  std::vector<HitSink*> sinks;
  // Files those consumers (or the caller, after the run) write, so the run can refuse to
  // read any of them.
  std::vector<std::filesystem::path> other_files;
};

// Analyses `inputs` in order and gives every hit to the outputs: the result file gets the
// header line and every hit's output line, CR LF line ends, in options.encoding; every
// further sink gets the same. Refuses to start (RunError, nothing touched) when an output
// is one of the inputs or another run holds the result file. Throws RunError on an error
// that stops the run, after the outputs have everything found before it. A stop request
// ends the run at the next line with the hits so far written, and the summary says stopped.
RunSummary RunAnalysisToOutputs(const std::vector<std::filesystem::path>& inputs,
                                const RunOutputs& outputs, const RunOptions& options,
                                const TQQWry& ipdb, RunSink& sink, std::stop_token stop = {});
// RunAnalysisToOutputs with the result file only.
RunSummary RunAnalysis(const std::vector<std::filesystem::path>& inputs,
                       const std::filesystem::path& result_path, const RunOptions& options,
                       const TQQWry& ipdb, RunSink& sink, std::stop_token stop = {});

// The header line of the result file for a fixed log type (the auto type's depends on the
// layout: LayoutResultHeader).
std::string_view ResultHeader(LogType log_type);

// The header line for lines of `layout`: the types 1/2 header for NCSA and Tomcat layouts
// (with "主机头" first for vhost_combined), the named fields for W3C (`fields`), the IIS
// header for log type 0.
std::string LayoutResultHeader(LineLayout layout, const std::optional<W3cFields>& fields);

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
