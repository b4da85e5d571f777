// ostrel-cli: the headless front end. Every subcommand lives in a file of its own.
#include <CLI/CLI.hpp>

#include "cli/command.h"

int main(int argc, char** argv) {
  CLI::App app{"Ostrel: finds suspicious attack requests in web-server access logs."};
  app.set_version_flag("--version", std::string("ostrel-cli ") + OSTREL_VERSION);
  app.require_subcommand(1);

  int exit_status = 0;
  ostrel::cli::AddLocateCommand(app, exit_status);
  ostrel::cli::AddScanCommand(app, exit_status);
  ostrel::cli::AddUpdateCommand(app, exit_status);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Usage errors share the error status of failed runs.
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  return exit_status;
}
