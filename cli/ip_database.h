#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {
class FileLocations;
}

namespace ostrel::cli {

// The IP database a command opens: `ipdb_option` (--ipdb) when given, else the first
// QQWry.dat that `locations` finds. When there is none, prints "ostrel-cli COMMAND: no IP
// database QQWry.dat in FOLDER, FOLDER, ..." with a hint to standard error and gives
// nothing.
std::optional<std::string> ChooseIpDatabase(std::string_view command,
                                            const std::string& ipdb_option,
                                            const FileLocations& locations);

}  // namespace ostrel::cli
