#include "cli/ip_database.h"

#include <iostream>

#include "engine/file_locations.h"

namespace ostrel::cli {

std::optional<std::string> ChooseIpDatabase(std::string_view command,
                                            const std::string& ipdb_option,
                                            const FileLocations& locations) {
  if (!ipdb_option.empty()) return ipdb_option;
  if (const std::optional<std::filesystem::path> found = locations.FindIpDatabase()) {
    return found->string();
  }
  std::cerr << "ostrel-cli " << command << ": no IP database QQWry.dat in ";
  const char* separator = "";
  for (const std::filesystem::path& folder : locations.ipdb_dirs()) {
    std::cerr << separator << folder.string();
    separator = ", ";
  }
  std::cerr << " (name one with --ipdb";
  if (!locations.portable()) std::cerr << ", or see FILES in man ostrel-cli";
  std::cerr << ")\n";
  return std::nullopt;
}

}  // namespace ostrel::cli
