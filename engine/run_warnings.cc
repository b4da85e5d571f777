#include "engine/run_warnings.h"

namespace ostrel {

std::vector<RunWarning> FindRunWarnings(const RunSummary& summary, LogType log_type) {
  std::vector<RunWarning> warnings;
  for (const FileSummary& file : summary.per_file) {
    if (file.binary) {
      warnings.push_back({RunWarning::Kind::kBinary, file.path});
      continue;
    }
    if (file.shrank) warnings.push_back({RunWarning::Kind::kShrank, file.path});
    const LineCounts& c = file.counts;
    // Comment lines are no requests; the share counts the lines that could have been.
    const std::uint64_t candidates = c.read - c.comments;
    if (file.finished && candidates > 0 && c.examined * 2 < candidates) {
      RunWarning warning{RunWarning::Kind::kFewExamined, file.path, c.examined, candidates,
                         file.likely};
      warning.auto_reads_it = log_type != LogType::kAuto && file.likely != LineLayout::kUnknown;
      warnings.push_back(warning);
    }
    if (log_type == LogType::kAuto && file.layout != LineLayout::kUnknown &&
        summary.header_layout != LineLayout::kUnknown &&
        LayoutResultHeader(file.layout, std::nullopt) !=
            LayoutResultHeader(summary.header_layout, std::nullopt)) {
      warnings.push_back({RunWarning::Kind::kOtherColumns, file.path, 0, 0, file.layout});
    }
  }
  if (summary.counts.limited > 0) {
    warnings.push_back({RunWarning::Kind::kLimited, {}, summary.counts.limited});
  }
  if (summary.counts.unlocated > 0) {
    warnings.push_back({RunWarning::Kind::kUnlocated, {}, summary.counts.unlocated});
  }
  return warnings;
}

}  // namespace ostrel
