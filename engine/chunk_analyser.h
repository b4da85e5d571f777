#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/hit_decision.h"
#include "engine/ip_locator.h"
#include "engine/line_source.h"
#include "engine/log_layout.h"
#include "engine/log_line.h"
#include "engine/options.h"
#include "engine/run.h"

namespace ostrel {

class TQQWry;

// A stretch of ChunkResult::arena.
struct ArenaText {
  std::size_t offset = 0;
  std::size_t size = 0;
};

// One hit of a block, its texts kept in the block's arena.
struct StoredHit {
  std::uint64_t line_index = 0;  // 0-based within the block
  ArenaText line, client, location, subject, subject_b, status, method, time;
  std::size_t slot = 0;
  bool on_subject_b = false;
  LineLayout layout = LineLayout::kUnknown;
};

// What the analysis of one block of lines gave.
struct ChunkResult {
  std::string arena;  // the texts of the hits
  std::vector<StoredHit> hits;
  LineCounts counts;        // counts.read: lines analysed, from the block's first on
  std::uint64_t lines = 0;  // the same as counts.read
  LineLayout first_layout = LineLayout::kUnknown;  // of the block's first examined line
  std::optional<W3cFields> first_fields;           // its W3C fields, for a W3C line
  bool failed = false;                             // line `lines + 1` of the block stopped the run
  std::string error;                               // why, without file or line
  bool cancelled = false;  // the run asked to stop before the block was done

  std::string_view Text(ArenaText text) const { return {arena.data() + text.offset, text.size}; }
  void Clear();
};

// The per-thread analysis state of a run: IP locator, line extractor and hit decider,
// each made once and reused for every block. Not thread-safe: one per worker thread.
class ChunkAnalyser {
 public:
  // `ipdb` and `rules` (the run's shared rule set) must outlive the analyser.
  ChunkAnalyser(const RunOptions& options, const TQQWry& ipdb, const CompiledRuleSet& rules);

  // Analyses every line of `chunk` in order (dropping CRs in place) and adds each hit to
  // `result`; `fields` are the W3C fields in effect at the block's start (auto type). Stops
  // at the first line that cannot be analysed (result.failed, with the reason), and between
  // lines once `cancel` is true (result.cancelled). Never throws.
  void Analyse(Chunk& chunk, const std::optional<W3cFields>& fields, ChunkResult& result,
               const std::atomic<bool>& cancel);

 private:
  // Analyses one line and adds it to `result` when it is a hit. Throws LineError and
  // ERegularExpressionError.
  void AnalyseLine(char* begin, std::size_t size, ChunkResult& result);
  void StoreHit(const TLogLine& line, const HitVerdict& verdict, ChunkResult& result);

  LogType log_type_;
  IpLocator locator_;
  LineExtractor extractor_;
  HitDecider decider_;
  std::string scratch_;  // decoded text of a line that was not valid UTF-8
};

}  // namespace ostrel
