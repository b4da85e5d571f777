#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/options.h"
#include "engine/run.h"
#include "export/report_collector.h"

namespace ostrel {

// What the report says about the run beside its hits and counts.
struct ReportContext {
  RunOptions options;
  std::vector<std::filesystem::path> inputs;  // as the run was given them
  std::string started_at;                     // the run's start, as people read it
  std::string error;  // when the caller knows the run stopped on an error: its message
};

// The run's options in one line: "日志类型 auto · 规则 compact（槽 1–6）· ...".
std::string DescribeRunOptions(const RunOptions& options);

// `time` in local time as "2026-12-01 10:00:39".
std::string LocalTimeText(std::chrono::system_clock::time_point time);

// The report: one self-contained HTML page (styles inline, charts as inline SVG, no script,
// nothing fetched) in Chinese with English labels: the run's state and options, totals and
// per-file counts from `summary`, hits by category and by slot, top client addresses with
// their location, top locations, the timeline, top targeted paths, status codes, and the
// first hits with their category, all from `collector`. Every text from a log or a path is
// escaped. A stopped run, and one that did not finish its inputs, is said to be so.
std::string RenderHtmlReport(const ReportCollector& collector, const RunSummary& summary,
                             const ReportContext& context);

// Writes `html` to `path` whole or not at all (a temporary file beside it, renamed into
// place; an older report is replaced only then); "-" writes standard output. Throws
// ExportError naming the path.
void WriteReportFile(const std::filesystem::path& path, std::string_view html);

}  // namespace ostrel
