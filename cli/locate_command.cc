// ostrel-cli locate: the location text of IPv4 addresses, from the QQWry.dat database.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/ip_database.h"
#include "engine/file_locations.h"
#include "ipdb/ip2local.h"
#include "ipdb/qqwry.h"

namespace ostrel::cli {
namespace {

struct LocateOptions {
  std::string ipdb;
  std::vector<std::string> addresses;
  bool info = false;
};

void PrintLocation(const TQQWry& reader, std::string_view address) {
  std::cout << address << '\t' << IP2Local(reader, address) << '\n';
}

int RunLocate(const LocateOptions& options) {
  const std::optional<std::string> found =
      ChooseIpDatabase("locate", options.ipdb, FileLocations::ForThisProcess());
  if (!found) return 2;
  const std::string& path = *found;
  const TQQWry reader(path);
  if (!reader.HasDatabase()) {
    std::cerr << "ostrel-cli locate: cannot use the IP database " << path
              << " (missing, unreadable or not a QQWry.dat file)\n";
    return 2;
  }
  if (options.info) {
    std::cout << "database\t" << path << '\n';
    std::cout << "records\t" << reader.GetIPRecordNum() << '\n';
    const auto date = reader.GetQQWryDate();
    std::cout << "date\t";
    if (date) {
      char text[16];
      std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date->year()),
                    static_cast<unsigned>(date->month()), static_cast<unsigned>(date->day()));
      std::cout << text;
    } else {
      std::cout << "unknown";
    }
    std::cout << '\n';
  }
  if (!options.addresses.empty()) {
    for (const std::string& address : options.addresses) PrintLocation(reader, address);
  } else if (!options.info) {
    // Answer each line as it comes when someone types them in.
    const bool interactive = isatty(STDIN_FILENO) != 0;
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      PrintLocation(reader, line);
      if (interactive) std::cout.flush();
    }
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "ostrel-cli locate: cannot write the output\n";
    return 2;
  }
  return 0;
}

}  // namespace

void AddLocateCommand(CLI::App& app, int& exit_status) {
  CLI::App* command = app.add_subcommand(
      "locate",
      "Prints each IPv4 address with its location text, tab-separated (addresses are read "
      "one per line from standard input when none are given).");
  auto options = std::make_shared<LocateOptions>();
  command->add_option("--ipdb", options->ipdb, "The QQWry.dat IP database (default: as for scan)");
  command->add_flag("--info", options->info, "Print the database's record count and date");
  command->add_option("address", options->addresses, "Addresses to locate");
  command->callback([options, &exit_status] { exit_status = RunLocate(*options); });
}

}  // namespace ostrel::cli
