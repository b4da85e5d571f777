#include "engine/chunk_analyser.h"

#include <cstring>
#include <exception>

#include "engine/line_error.h"
#include "engine/reading_hint.h"
#include "engine/text_decode.h"

namespace ostrel {
namespace {

// Lines longer than this leave no large buffers behind in the worker.
constexpr std::ptrdiff_t kLongLine = std::ptrdiff_t{1} << 20;

ArenaText Keep(std::string& arena, std::string_view text) {
  const ArenaText kept{arena.size(), text.size()};
  arena.append(text);
  return kept;
}

}  // namespace

void ChunkResult::Clear() {
  arena.clear();
  hits.clear();
  counts = LineCounts{};
  lines = 0;
  first_layout = LineLayout::kUnknown;
  first_fields.reset();
  failed = false;
  error.clear();
  cancelled = false;
}

ChunkAnalyser::ChunkAnalyser(const RunOptions& options, const TQQWry& ipdb,
                             const CompiledRuleSet& rules)
    : log_type_(options.log_type),
      locator_(ipdb),
      extractor_(options.log_type, locator_),
      decider_(options, rules) {}

void ChunkAnalyser::AnalyseLine(char* begin, std::size_t size, ChunkResult& result) {
  const std::string_view text = InputLineText(begin, size, scratch_);
  LineCounts& counts = result.counts;
  SkipReason reason = SkipReason::kNone;
  const TLogLine* line = extractor_.Take(text, reason);
  if (line == nullptr) {
    switch (reason) {
      case SkipReason::kComment:
        ++counts.comments;
        break;
      case SkipReason::kProtocol:
        ++counts.other_protocol;
        break;
      case SkipReason::kNotHttp:
        ++counts.not_http;
        break;
      case SkipReason::kShape:
      case SkipReason::kNone:
        ++counts.wrong_shape;
        break;
    }
    return;
  }
  HitVerdict verdict;
  try {
    verdict = decider_.Decide(*line);
  } catch (const LineError& error) {
    // The auto type reads logs of every layout, so a line whose status cannot be read is
    // counted, not a reason to stop.
    if (error.kind() == LineError::Kind::kStatusNotInteger && log_type_ == LogType::kAuto) {
      ++counts.wrong_shape;
      return;
    }
    if (error.kind() == LineError::Kind::kStatusNotInteger) {
      throw LineError::StatusNotInteger(line->StatusText, ReadingHint(log_type_, text));
    }
    throw;
  }
  ++counts.examined;
  if (result.first_layout == LineLayout::kUnknown) {
    result.first_layout = line->Layout;
    if (line->Layout == LineLayout::kW3c) result.first_fields = extractor_.w3c_fields();
  }
  switch (verdict.fate) {
    case LineFate::kStaticDropped:
      ++counts.static_dropped;
      return;
    case LineFate::kStatusDropped:
      ++counts.status_dropped;
      return;
    case LineFate::kLimited:
      ++counts.limited;
      return;
    case LineFate::kClean:
      return;
    case LineFate::kHit:
      break;
  }
  if (!extractor_.Complete()) ++counts.unlocated;
  StoreHit(*line, verdict, result);
}

void ChunkAnalyser::StoreHit(const TLogLine& line, const HitVerdict& verdict, ChunkResult& result) {
  std::string& arena = result.arena;
  StoredHit hit;
  hit.line_index = result.lines;
  hit.line = Keep(arena, line.Line);
  hit.client = Keep(arena, line.Client);
  hit.location = Keep(arena, line.Location);
  hit.subject = Keep(arena, line.SubjectA);
  hit.subject_b = Keep(arena, line.SubjectB);
  hit.status = Keep(arena, line.StatusText);
  hit.method = Keep(arena, line.Method);
  hit.time = Keep(arena, line.Time);
  hit.slot = verdict.slot;
  hit.on_subject_b = verdict.on_subject_b;
  hit.layout = line.Layout;
  result.hits.push_back(hit);
  ++result.counts.hits;
}

void ChunkAnalyser::Analyse(Chunk& chunk, const std::optional<W3cFields>& fields,
                            ChunkResult& result, const std::atomic<bool>& cancel) {
  if (log_type_ == LogType::kAuto) extractor_.SetW3cFields(fields);
  char* p = chunk.data();
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
    ++result.counts.read;
    if (line_end - p > kLongLine) {
      extractor_.ReleaseLargeBuffers();
      if (scratch_.capacity() > static_cast<std::size_t>(kLongLine)) std::string().swap(scratch_);
    }
    p = feed != nullptr ? feed + 1 : end;
  }
}

}  // namespace ostrel
