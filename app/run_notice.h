#pragma once

#include <QString>

#include "engine/options.h"
#include "engine/run.h"

namespace ostrel {

// What the status bar says at the end of a run that may have missed something (files of
// which most lines were not examined, binary files skipped, rule tests stopped at a
// limit, ...): the first warning, with how many more there are; empty when there is none.
QString RunNoticeText(const RunSummary& summary, LogType log_type);
// Every warning of the run, one per line, for the notice's tooltip.
QString RunNoticeDetails(const RunSummary& summary, LogType log_type);

}  // namespace ostrel
