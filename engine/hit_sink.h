#pragma once

// The consumers of a run's hits: the result file, the JSON Lines and CSV writers, the HTML
// report, and recording sinks in tests all receive every hit the same way.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "engine/log_layout.h"

namespace ostrel {

struct RunSummary;

// One hit. The texts are UTF-8 views valid only during the HitSink::Hit call that gets it.
struct HitRecord {
  std::size_t file_index = 0;                   // 0-based, in input order
  const std::filesystem::path* file = nullptr;  // "-" for standard input
  std::uint64_t line_number = 0;                // 1-based, within its file
  std::string_view line;       // the output line, as the result file has it (before encoding)
  std::string_view client;     // the client field
  std::string_view location;   // the location text inserted after it; empty when none was
  std::string_view subject;    // the request the rules were tested on (type 0: the method)
  std::string_view subject_b;  // type 0: the URI query; empty otherwise
  std::string_view status;     // the status text
  std::string_view method;     // empty when the layout has none
  std::string_view time;       // the line's time text; empty when the layout has none
  std::size_t slot = 0;        // the 0-based rule slot that matched first
  bool on_subject_b = false;   // that slot matched subject_b
  LineLayout layout = LineLayout::kUnknown;
};

// Receives a run's hits, in input order, on the thread that called the run. A sink that
// cannot take a hit throws; the run then stops with an error naming the sink's output.
class HitSink {
 public:
  virtual ~HitSink() = default;
  // The result file's header line for the run's layout, once, before the first hit (and
  // also when the run has none).
  virtual void Header(std::string_view /*header*/) {}
  virtual void Hit(const HitRecord& hit) = 0;
  // The run has ended (finished, stopped or failed); `summary` is what it did. Throws like
  // Hit(), e.g. when the output cannot be completed.
  virtual void Finish(const RunSummary& /*summary*/) {}
  // What the sink writes to, for messages ("1.log", "standard output").
  virtual std::string OutputName() const { return {}; }
};

}  // namespace ostrel
