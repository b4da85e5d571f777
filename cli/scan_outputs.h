#pragma once

#include <filesystem>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/hit_sink.h"
#include "engine/options.h"
#include "engine/run.h"
#include "engine/stop_waker.h"

namespace ostrel::cli {

// What a scan writes besides (or instead of) the result file.
struct HitOutputOptions {
  std::string format = "log";  // what -o gets: log (the result file), jsonl or csv
  std::string jsonl;           // --jsonl FILE
  std::string csv;             // --csv FILE
  std::string report;          // --report FILE
};

// The JSON Lines, CSV and HTML report outputs of a scan, as hit sinks of its run.
class ScanHitOutputs {
 public:
  // Checks and sets up `outputs` for `options`: with --format jsonl or csv, -o (`output`,
  // default standard output) gets that format and no result file is written; every
  // further file goes into outputs.other_files, so the run refuses one that is an input.
  // `xlsx` is the --xlsx path, if any. Gives false after printing the reason for a usage
  // error: a file (or standard output) named twice, --xlsx without a result file.
  bool Add(const HitOutputOptions& options, const std::string& output, const std::string& xlsx,
           RunOutputs& outputs);
  // Makes the sinks and adds them to outputs.sinks, once the inputs are known and before
  // the run starts; the report says what `run_options` and `inputs` were. A request on
  // `stop` ends a wait for a FIFO's reader or a full pipe.
  void Prepare(const RunOptions& run_options, const std::vector<std::filesystem::path>& inputs,
               std::stop_token stop, RunOutputs& outputs);
  // What the summary line names as the scan's result.
  std::string ResultName(const RunOutputs& outputs) const;

 private:
  HitOutputOptions options_;
  std::unique_ptr<StopWaker> waker_;  // before the sinks, which use it
  std::vector<std::unique_ptr<HitSink>> sinks_;
  std::string primary_;  // -o's file when it takes JSON Lines or CSV
};

}  // namespace ostrel::cli
