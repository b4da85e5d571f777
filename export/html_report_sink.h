#pragma once

#include <filesystem>
#include <string>

#include "engine/hit_sink.h"
#include "export/html_report.h"
#include "export/report_collector.h"

namespace ostrel {

// The HTML report as a consumer of a run's hits: collects them and writes the report to
// its file when the run ends, also after a stopped or failed run (the report says so).
class HtmlReportSink : public HitSink {
 public:
  // Writes to `path` ("-": standard output) when the run ends; touches nothing before.
  HtmlReportSink(std::filesystem::path path, ReportContext context,
                 const ReportLimits& limits = {});

  void Hit(const HitRecord& hit) override { collector_.Hit(hit); }
  // Renders and writes the report. Throws ExportError.
  void Finish(const RunSummary& summary) override;
  std::string OutputName() const override;

 private:
  std::filesystem::path path_;
  ReportContext context_;
  ReportCollector collector_;
};

}  // namespace ostrel
