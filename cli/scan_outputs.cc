#include "cli/scan_outputs.h"

#include <chrono>
#include <iostream>
#include <utility>

#include "export/csv_sink.h"
#include "export/html_report.h"
#include "export/html_report_sink.h"
#include "export/jsonl_sink.h"

namespace ostrel::cli {
namespace {

namespace fs = std::filesystem;

// Two names of one file compare equal: relative or absolute, through links to folders.
std::string Key(const fs::path& path) {
  if (path == "-") return "-";
  std::error_code error;
  const fs::path absolute = fs::weakly_canonical(fs::absolute(path, error), error);
  return error ? path.lexically_normal().string() : absolute.string();
}

std::string Shown(const std::string& path) { return path == "-" ? "standard output" : path; }

}  // namespace

bool ScanHitOutputs::Add(const HitOutputOptions& options, const std::string& output,
                         const std::string& xlsx, RunOutputs& outputs) {
  std::vector<std::pair<std::string, std::string>> named;  // option, path
  if (options.format == "log") {
    named.emplace_back("-o", outputs.result_path.string());
  } else {
    if (!xlsx.empty()) {
      std::cerr << "ostrel-cli scan: --xlsx is made from the result file, which --format "
                << options.format << " does not write\n";
      return false;
    }
    outputs.result_path.clear();
    primary_ = output.empty() ? "-" : output;
    named.emplace_back("-o", primary_);
  }
  if (!xlsx.empty()) named.emplace_back("--xlsx", xlsx);
  if (!options.jsonl.empty()) named.emplace_back("--jsonl", options.jsonl);
  if (!options.csv.empty()) named.emplace_back("--csv", options.csv);
  if (!options.report.empty()) named.emplace_back("--report", options.report);
  for (std::size_t i = 0; i < named.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (Key(named[i].second) == Key(named[j].second)) {
        std::cerr << "ostrel-cli scan: " << Shown(named[i].second) << " is named by both "
                  << named[j].first << " and " << named[i].first
                  << "; give each output its own file\n";
        return false;
      }
    }
  }

  options_ = options;
  for (std::size_t i = 1; i < named.size(); ++i) {
    if (named[i].first != "--xlsx") outputs.other_files.emplace_back(named[i].second);
  }
  if (!primary_.empty()) outputs.other_files.emplace_back(primary_);
  return true;
}

void ScanHitOutputs::Prepare(const RunOptions& run_options, const std::vector<fs::path>& inputs,
                             std::stop_token stop, RunOutputs& outputs) {
  waker_ = std::make_unique<StopWaker>(std::move(stop));
  const auto add = [&](std::unique_ptr<HitSink> sink) {
    outputs.sinks.push_back(sink.get());
    sinks_.push_back(std::move(sink));
  };
  const StopWaker* waker = waker_.get();
  if (options_.format == "jsonl") add(std::make_unique<JsonLinesSink>(primary_, waker));
  if (options_.format == "csv") add(std::make_unique<CsvSink>(primary_, waker));
  if (!options_.jsonl.empty()) add(std::make_unique<JsonLinesSink>(options_.jsonl, waker));
  if (!options_.csv.empty()) add(std::make_unique<CsvSink>(options_.csv, waker));
  if (!options_.report.empty()) {
    ReportContext context;
    context.options = run_options;
    context.inputs = inputs;
    context.started_at = LocalTimeText(std::chrono::system_clock::now());
    add(std::make_unique<HtmlReportSink>(options_.report, std::move(context)));
  }
}

std::string ScanHitOutputs::ResultName(const RunOutputs& outputs) const {
  if (primary_.empty()) {
    return outputs.result_path == "-" ? std::string("standard output")
                                      : outputs.result_path.string();
  }
  return Shown(primary_);
}

}  // namespace ostrel::cli
