#pragma once

// What a finished run may have missed, as values: each front end words them its own way
// (the command line on standard error, the window in its status bar).

#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/log_layout.h"
#include "engine/options.h"
#include "engine/run.h"

namespace ostrel {

struct RunWarning {
  enum class Kind : std::uint8_t {
    kFewExamined,   // fewer than half of a file's lines reached the filters
    kBinary,        // a file that is no text was skipped
    kShrank,        // a file got shorter while it was read
    kOtherColumns,  // a file's layout has other columns than the result header names
    kLimited,       // rule tests stopped at a match limit (the whole run)
    kUnlocated,     // hits written without their location (the whole run)
  };
  Kind kind;
  std::filesystem::path file;  // empty for the whole run
  std::uint64_t count = 0;     // lines examined, limited tests, unlocated hits
  std::uint64_t of = 0;        // kFewExamined: the lines that could have been examined
  LineLayout layout = LineLayout::kUnknown;  // what the file's lines look like / are
  bool auto_reads_it = false;                // kFewExamined: the auto type would read the file
};

// The warnings of a run with `log_type`, files in input order, then the run's own.
std::vector<RunWarning> FindRunWarnings(const RunSummary& summary, LogType log_type);

}  // namespace ostrel
