#include "export/html_report_sink.h"

namespace ostrel {

HtmlReportSink::HtmlReportSink(std::filesystem::path path, ReportContext context,
                               const ReportLimits& limits)
    : path_(std::move(path)), context_(std::move(context)), collector_(limits) {}

void HtmlReportSink::Finish(const RunSummary& summary) {
  WriteReportFile(path_, RenderHtmlReport(collector_, summary, context_));
}

std::string HtmlReportSink::OutputName() const {
  return path_ == "-" ? std::string("标准输出") : path_.string();
}

}  // namespace ostrel
