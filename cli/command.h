#pragma once

#include <CLI/CLI.hpp>

namespace ostrel::cli {

// Each subcommand registers itself on the application. When it is chosen and its
// options parse, its callback runs and stores the process exit status in `exit_status`.
void AddLocateCommand(CLI::App& app, int& exit_status);
void AddScanCommand(CLI::App& app, int& exit_status);
void AddUpdateCommand(CLI::App& app, int& exit_status);

}  // namespace ostrel::cli
