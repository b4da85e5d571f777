#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/options.h"
#include "engine/run.h"

namespace ostrel::cli {

// The one summary line of a scan: what was read, examined, skipped and why, filtered,
// hit, and where the result went.
std::string SummaryLine(const RunSummary& summary, double seconds, const std::string& output);

// The per-file table of --stats, one row per file plus a total.
std::string StatsTable(const RunSummary& summary);

// Warnings about what a run may have missed, one line each: files of which fewer than half
// of the lines were examined (with the layout they look like and what reads them), binary
// files skipped, files that shrank while read, files whose layout differs from the result
// header's, rule tests that stopped at a limit, hits written without their location.
std::string Warnings(const RunSummary& summary, LogType log_type);

// The name of a log type as the command line spells it.
const char* TypeName(LogType log_type);

}  // namespace ostrel::cli
