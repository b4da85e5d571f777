#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/hit_decision.h"
#include "engine/ip_locator.h"
#include "engine/line_source.h"
#include "engine/log_line.h"
#include "engine/options.h"

namespace ostrel {

class TQQWry;

// What the analysis of one block of lines gave.
struct ChunkResult {
  std::string hits;  // the hits' output lines, encoded and ended with CR LF
  std::uint64_t hit_count = 0;
  std::uint64_t lines = 0;  // lines analysed, from the block's first on
  bool failed = false;      // line `lines + 1` of the block stopped the run
  std::string error;        // why, without file or line
  bool cancelled = false;   // the run asked to stop before the block was done

  void Clear();
};

// The per-thread analysis state of a run: IP locator, line extractor and hit decider,
// each made once and reused for every block. Not thread-safe: one per worker thread.
class ChunkAnalyser {
 public:
  // `ipdb` and `rules` (the run's shared rule set) must outlive the analyser.
  ChunkAnalyser(const RunOptions& options, const TQQWry& ipdb, const CompiledRuleSet& rules);

  // Analyses every line of `chunk` in order (dropping CRs in place) and appends each hit
  // to `result`. Stops at the first line that cannot be analysed (result.failed, with the
  // reason), and between lines once `cancel` is true (result.cancelled). Never throws.
  void Analyse(Chunk& chunk, ChunkResult& result, const std::atomic<bool>& cancel);

 private:
  // Analyses one line and appends it to `result` when it is a hit. Throws LineError and
  // ERegularExpressionError.
  void AnalyseLine(char* begin, std::size_t size, ChunkResult& result);
  ResultEncoding encoding_;
  IpLocator locator_;
  LineExtractor extractor_;
  HitDecider decider_;
  std::string scratch_;  // decoded text of a line that was not valid UTF-8
};

}  // namespace ostrel
