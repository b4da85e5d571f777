#include "engine/chunk_analyser.h"

#include <cstring>
#include <exception>

#include "engine/line_error.h"
#include "engine/result_writer.h"
#include "engine/text_decode.h"

namespace ostrel {

void ChunkResult::Clear() {
  hits.clear();
  hit_count = 0;
  lines = 0;
  failed = false;
  error.clear();
  cancelled = false;
}

ChunkAnalyser::ChunkAnalyser(const RunOptions& options, const TQQWry& ipdb,
                             const CompiledRuleSet& rules)
    : encoding_(options.encoding),
      locator_(ipdb),
      extractor_(options.log_type, locator_),
      decider_(options, rules) {}

void ChunkAnalyser::AnalyseLine(char* begin, std::size_t size, ChunkResult& result) {
  const std::string_view text = DecodeLine(DropCarriageReturns(begin, size), scratch_);
  const std::optional<TLogLine> line = extractor_.ExtractLogLine(text);
  if (!line) return;
  if (!decider_.IsSuspiciousLine(*line)) return;
  AppendResultLine(line->Line, encoding_, result.hits);
  ++result.hit_count;
}

void ChunkAnalyser::Analyse(Chunk& chunk, ChunkResult& result, const std::atomic<bool>& cancel) {
  char* p = chunk.bytes.get();
  char* const end = p + chunk.size;
  unsigned until_check = 0;
  while (p != end) {
    if (until_check-- == 0) {
      until_check = 255;
      if (cancel.load(std::memory_order_relaxed)) {
        result.cancelled = true;
        return;
      }
    }
    char* feed = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    char* line_end = feed != nullptr ? feed : end;
    try {
      AnalyseLine(p, static_cast<std::size_t>(line_end - p), result);
    } catch (const std::exception& error) {
      // Per-line failures (a short IIS line, an unreadable status, a rule that does not
      // compile, lack of memory) end the block here; the run names the file and line.
      result.failed = true;
      result.error = error.what();
      return;
    }
    ++result.lines;
    p = feed != nullptr ? feed + 1 : end;
  }
}

}  // namespace ostrel
