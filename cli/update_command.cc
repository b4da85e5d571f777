// ostrel-cli update: the update check and download without a window.
#include <iostream>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/interrupt_to_stop.h"
#include "engine/file_locations.h"
#include "update/http_transfer.h"
#include "update/updater.h"

namespace ostrel::cli {
namespace {

struct UpdateOptions {
  std::string server;
  bool check_only = false;
};

// Cancels the current transfer once a stop is requested; libcurl asks about once a second
// even while nothing arrives, so a stalled transfer ends promptly too.
class StoppableObserver : public UpdateObserver {
 public:
  explicit StoppableObserver(std::stop_token stop) : stop_(std::move(stop)) {}

  bool TransferProgress(std::int64_t, std::int64_t) override { return !stop_.stop_requested(); }

 private:
  std::stop_token stop_;
};

// Prints one line per row as the download run finishes it: name, version, outcome.
class PrintingObserver final : public StoppableObserver {
 public:
  PrintingObserver(const std::vector<UpdateEntry>& entries, std::stop_token stop)
      : StoppableObserver(std::move(stop)), entries_(entries) {}

  void RowFinished(std::size_t row, bool ok, const std::string& reason) override {
    const UpdateEntry& entry = entries_[row];
    std::cout << entry.name << '\t' << entry.version_text << '\t' << (ok ? kRowDone : kRowFailed);
    if (!ok && !reason.empty()) std::cout << '\t' << reason;
    std::cout << '\n' << std::flush;
  }

 private:
  const std::vector<UpdateEntry>& entries_;
};

constexpr int kInterruptedStatus = 130;  // as shells report SIGINT, and as scan exits

int RunUpdate(const UpdateOptions& options) {
  const FileLocations locations = FileLocations::ForThisProcess();
  UpdateSettings settings;
  settings.manifest_url = options.server.empty() ? DefaultManifestUrl() : options.server;
  settings.folder = locations.data_dir();
  if (std::string error; !locations.CreateDataDir(&error)) {
    std::cerr << "ostrel-cli update: " << error << '\n';
    return 1;
  }
  HttpClient client;
  std::stop_source stop;
  // A signal cancels the transfer in progress; the transfer then removes its partial file
  // and the command removes tmp.ini, so nothing half-fetched is left behind.
  const InterruptToStop interrupts(stop);
  StoppableObserver quiet(stop.get_token());

  const CheckResult check = CheckForUpdates(client, settings, quiet);
  // tmp.ini lives only as long as the command, as it lives only as long as the window.
  RemoveManifestCopy(settings.folder);
  if (interrupts.interrupted()) {
    std::cerr << "ostrel-cli update: interrupted\n";
    return kInterruptedStatus;
  }
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

  PrintingObserver printer(check.entries, stop.get_token());
  const DownloadRunResult run = DownloadUpdates(client, settings, check.entries, printer);
  if (run.stopped_row) {
    std::cerr << "ostrel-cli update: " << run.record_error << '\n';
    return 1;
  }
  if (run.cancelled || interrupts.interrupted()) {
    std::cerr << "ostrel-cli update: interrupted\n";
    return kInterruptedStatus;
  }
  return run.failed == 0 ? 0 : 1;
}

}  // namespace

void AddUpdateCommand(CLI::App& app, int& exit_status) {
  auto options = std::make_shared<UpdateOptions>();
  CLI::App* command = app.add_subcommand(
      "update",
      "Fetch the update manifest and download the files newer than the versions recorded in "
      "update.ini (beside the executable, or in ~/.local/share/ostrel when installed). "
      "Prints one line per file: name, version, outcome.");
  command->add_option("--server", options->server,
                      "Manifest address (http or https); default: " + DefaultManifestUrl());
  command->add_flag("--check", options->check_only, "Only list the newer files");
  command->callback([options, &exit_status] { exit_status = RunUpdate(*options); });
}

}  // namespace ostrel::cli
