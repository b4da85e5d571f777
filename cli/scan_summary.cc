#include "cli/scan_summary.h"

#include <cinttypes>

#include "engine/log_layout.h"
#include "engine/run_warnings.h"

namespace ostrel::cli {
namespace {

std::string Format(const char* format, auto... values) {
  const int size = std::snprintf(nullptr, 0, format, values...);
  std::string text(static_cast<std::size_t>(size), '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

unsigned long long U(std::uint64_t value) { return static_cast<unsigned long long>(value); }

std::string Shown(const std::filesystem::path& path) {
  return path == "-" ? std::string("(standard input)") : path.string();
}

// Where a file's lines went, for the summary line and the table.
std::string SkippedText(const LineCounts& counts) {
  return Format("%llu comment/directive, %llu wrong shape, %llu other protocol, %llu not HTTP",
                U(counts.comments), U(counts.wrong_shape), U(counts.other_protocol),
                U(counts.not_http));
}

}  // namespace

const char* TypeName(LogType log_type) {
  switch (log_type) {
    case LogType::kIis:
      return "iis";
    case LogType::kTomcat:
      return "tomcat";
    case LogType::kApache:
      return "apache";
    case LogType::kAuto:
      break;
  }
  return "auto";
}

std::string SummaryLine(const RunSummary& summary, double seconds, const std::string& output) {
  const LineCounts& c = summary.counts;
  return Format(
      "%zu files, %llu lines, %llu examined, %llu skipped (%s), %llu static dropped, %llu not "
      "status 200, %llu hits, %.2f s%s, result: %s\n",
      summary.files, U(c.read), U(c.examined), U(c.skipped()), SkippedText(c).c_str(),
      U(c.static_dropped), U(c.status_dropped), U(c.hits), seconds,
      summary.stopped ? ", stopped" : "", output.c_str());
}

std::string StatsTable(const RunSummary& summary) {
  std::string table = Format("%-14s %10s %10s %10s %10s %10s %10s %8s  %s\n", "layout", "lines",
                             "examined", "skipped", "static", "status", "limited", "hits", "file");
  const auto row = [&](std::string_view layout, const LineCounts& c, const std::string& name) {
    table += Format("%-14.*s %10llu %10llu %10llu %10llu %10llu %10llu %8llu  %s\n",
                    static_cast<int>(layout.size()), layout.data(), U(c.read), U(c.examined),
                    U(c.skipped()), U(c.static_dropped), U(c.status_dropped), U(c.limited),
                    U(c.hits), name.c_str());
  };
  for (const FileSummary& file : summary.per_file) {
    std::string name = Shown(file.path);
    if (!file.compression.empty()) name += " (" + file.compression + ")";
    if (file.binary) name += " (binary, skipped)";
    row(file.binary ? "-" : LayoutName(file.layout), file.counts, name);
  }
  row("", summary.counts, "total");
  return table;
}

std::string Warnings(const RunSummary& summary, LogType log_type) {
  std::string out;
  for (const RunWarning& warning : FindRunWarnings(summary, log_type)) {
    const std::string name = Shown(warning.file);
    switch (warning.kind) {
      case RunWarning::Kind::kBinary:
        out += "warning: " + name + ": not a text file (nor gzip, bzip2, xz or zstd); skipped\n";
        break;
      case RunWarning::Kind::kShrank:
        out += "warning: " + name +
               ": the file got shorter while it was read; its end may be missing\n";
        break;
      case RunWarning::Kind::kFewExamined:
        out += Format("warning: %s: %llu of %llu lines examined", name.c_str(), U(warning.count),
                      U(warning.of));
        if (warning.layout == LineLayout::kUnknown) {
          out += ": the lines look like no access-log layout this program reads\n";
        } else if (warning.auto_reads_it) {
          out += Format(": the lines look like %s; --type auto reads them\n",
                        LayoutName(warning.layout).data());
        } else {
          out += Format(": the lines look like %s, but most are no HTTP request or are cut off\n",
                        LayoutName(warning.layout).data());
        }
        break;
      case RunWarning::Kind::kOtherColumns:
        out += Format("note: %s is %s, the result header names the columns of %s\n", name.c_str(),
                      LayoutName(warning.layout).data(), LayoutName(summary.header_layout).data());
        break;
      case RunWarning::Kind::kLimited:
        out += Format("warning: %llu 行规则匹配达到上限，按未命中处理\n", U(warning.count));
        break;
      case RunWarning::Kind::kUnlocated:
        out += Format(
            "warning: %llu hits written without the location: the client address occurs so "
            "often that the line would have grown too much\n",
            U(warning.count));
        break;
    }
  }
  return out;
}

}  // namespace ostrel::cli
