#pragma once

#include <string>
#include <string_view>

#include "engine/log_layout.h"
#include "engine/options.h"

namespace ostrel {

// What a log line that the chosen type cannot read holds, and which log type or option
// reads it, in Chinese for error messages and warnings. Never recommends `chosen` itself.
// `line` is the raw line (any case).
std::string ReadingHint(LogType chosen, std::string_view line);

// How a layout is named to the user: "W3C 扩展日志", "NCSA combined 日志", ...
std::string_view LayoutDescription(LineLayout layout);

}  // namespace ostrel
