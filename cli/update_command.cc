// ostrel-cli update: the update check and download without a window.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "engine/executable_dir.h"
#include "update/http_transfer.h"
#include "update/updater.h"

namespace ostrel::cli {
namespace {

struct UpdateOptions {
  std::string server;
  bool check_only = false;
};

// Prints one line per row as the download run finishes it: name, version, outcome.
class PrintingObserver final : public UpdateObserver {
 public:
  explicit PrintingObserver(const std::vector<UpdateEntry>& entries) : entries_(entries) {}

  void RowFinished(std::size_t row, bool ok, const std::string& reason) override {
    const UpdateEntry& entry = entries_[row];
    std::cout << entry.name << '\t' << entry.version_text << '\t' << (ok ? kRowDone : kRowFailed);
    if (!ok && !reason.empty()) std::cout << '\t' << reason;
    std::cout << '\n' << std::flush;
  }

 private:
  const std::vector<UpdateEntry>& entries_;
};

int RunUpdate(const UpdateOptions& options) {
  UpdateSettings settings;
  settings.manifest_url = options.server.empty() ? DefaultManifestUrl() : options.server;
  settings.folder = ExecutableDir();
  HttpClient client;
  UpdateObserver quiet;

  const CheckResult check = CheckForUpdates(client, settings, quiet);
  // tmp.ini lives only as long as the command, as it lives only as long as the window.
  RemoveManifestCopy(settings.folder);
  if (!check.ok()) {
    std::cerr << "ostrel-cli update: 检测升级文件失败! " << settings.manifest_url << ": "
              << check.error << '\n';
    return 1;
  }
  if (check.entries.empty()) {
    std::cout << "已是最新版！\n";
    return 0;
  }
  if (options.check_only) {
    for (const UpdateEntry& entry : check.entries) {
      std::cout << entry.name << '\t' << entry.version_text << '\t' << kRowNotDownloaded << '\t'
                << entry.url << '\n';
    }
    return 0;
  }

  PrintingObserver printer(check.entries);
  const DownloadRunResult run = DownloadUpdates(client, settings, check.entries, printer);
  if (run.stopped_row) {
    std::cerr << "ostrel-cli update: " << run.record_error << '\n';
    return 1;
  }
  return run.failed == 0 ? 0 : 1;
}

}  // namespace

void AddUpdateCommand(CLI::App& app, int& exit_status) {
  auto options = std::make_shared<UpdateOptions>();
  CLI::App* command = app.add_subcommand(
      "update",
      "Fetch the update manifest and download the files newer than the versions recorded in "
      "update.ini beside the executable. Prints one line per file: name, version, outcome.");
  command->add_option("--server", options->server,
                      "Manifest address (http or https); default: " + DefaultManifestUrl());
  command->add_flag("--check", options->check_only, "Only list the newer files");
  command->callback([options, &exit_status] { exit_status = RunUpdate(*options); });
}

}  // namespace ostrel::cli
