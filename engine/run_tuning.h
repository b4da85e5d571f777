#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stop_token>
#include <string_view>
#include <vector>

#include "engine/options.h"
#include "engine/run.h"

namespace ostrel {

// Settings of a run that front ends never change; tests and benchmarks do.
struct RunTuning {
  // The rule slots' stored cipher texts; empty means the program's own (StoredRuleSlots()).
  // The texts must outlive the run.
  std::span<const std::string_view> cipher_slots;
  // Size of the blocks of whole lines that are read and handed to the workers.
  std::size_t block_bytes = std::size_t{1} << 20;
  // With several workers, from a file of this size on the workers compile the rule slots
  // among themselves before their first block (a small log may need only some of them).
  std::uint64_t prepare_rules_bytes = std::uint64_t{4} << 20;
};

// RunAnalysis with `tuning`; the same contract otherwise. A result path "-" writes the
// result to standard output, and an input path "-" reads standard input (which has no
// counting pass: its line total is reported as 0).
RunSummary RunAnalysisTuned(const std::vector<std::filesystem::path>& inputs,
                            const RunOutputs& outputs, const RunOptions& options,
                            const TQQWry& ipdb, RunSink& sink, std::stop_token stop,
                            const RunTuning& tuning);

}  // namespace ostrel
