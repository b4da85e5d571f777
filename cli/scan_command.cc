// ostrel-cli scan: the analysis run over files, folders or standard input.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "cli/command.h"
#include "cli/interrupt_to_stop.h"
#include "cli/ip_database.h"
#include "cli/scan_outputs.h"
#include "cli/scan_summary.h"
#include "engine/file_locations.h"
#include "engine/folder_walk.h"
#include "engine/options.h"
#include "engine/output_guard.h"
#include "engine/run.h"
#include "export/excel_export.h"
#include "ipdb/qqwry.h"

namespace ostrel::cli {
namespace {

namespace fs = std::filesystem;

struct ScanOptions {
  std::string type_name = "auto";
  std::string rules_name = "compact";
  bool keep_static = false;
  bool any_status = false;
  std::string output;
  std::string encoding_name = "utf-8";
  std::string ipdb;
  unsigned jobs = 0;
  bool quiet = false;
  bool stats = false;
  std::string xlsx;
  HitOutputOptions hit_outputs;
  std::vector<std::string> paths;
};

// A one-line progress bar on standard error, redrawn at most ten times a second.
class TerminalProgress : public RunSink {
 public:
  explicit TerminalProgress(bool enabled) : enabled_(enabled) {}

  void FileStarted(std::size_t index, std::size_t count, const fs::path& path) override {
    file_index_ = index + 1;
    file_count_ = count;
    file_name_ = path == "-" ? std::string("(standard input)") : path.filename().string();
    Draw(0, 0, hits_, true);
  }

  void LineProgress(std::uint64_t line_number, std::uint64_t line_total,
                    std::uint64_t hit_count) override {
    hits_ = hit_count;
    Draw(line_number, line_total, hit_count, line_number == line_total);
  }

  // Clears the bar so the summary line starts on a clean line.
  void Clear() {
    if (enabled_ && drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }

 private:
  void Draw(std::uint64_t line, std::uint64_t total, std::uint64_t hits, bool force) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    std::string percent;
    if (total > 0) {
      percent = std::to_string(PercentDone(static_cast<std::int64_t>(line),
                                           static_cast<std::int64_t>(total))) +
                "%";
    }
    std::fprintf(stderr, "\r\033[Kfile %zu/%zu %s  line %llu  %s  hits %llu", file_index_,
                 file_count_, file_name_.c_str(), static_cast<unsigned long long>(line),
                 percent.c_str(), static_cast<unsigned long long>(hits));
    std::fflush(stderr);
    drawn_ = true;
  }

  bool enabled_;
  bool drawn_ = false;
  std::size_t file_index_ = 0;
  std::size_t file_count_ = 0;
  std::string file_name_;
  std::uint64_t hits_ = 0;
  std::chrono::steady_clock::time_point last_draw_{};
};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The input list: files as given, folders walked, "-" for standard input. A walk leaves
// out the files the run writes, so a result file inside a scanned folder is never read
// back while it grows.
std::vector<fs::path> CollectInputs(const std::vector<std::string>& paths,
                                    const std::vector<fs::path>& outputs) {
  std::vector<fs::path> inputs;
  for (const std::string& text : paths) {
    std::error_code error;
    if (text != "-" && fs::is_directory(text, error)) {
      std::vector<fs::path> found = WalkFolder(text);
      if (const std::size_t left_out = DropOutputs(found, outputs); left_out > 0) {
        std::cerr << "ostrel-cli scan: " << text << ": " << left_out
                  << " file(s) this scan writes left out\n";
      }
      inputs.insert(inputs.end(), found.begin(), found.end());
    } else {
      inputs.emplace_back(text);
    }
  }
  return inputs;
}

LogType TypeOf(const std::string& name) {
  const std::string type = Lower(name);
  if (type == "iis") return LogType::kIis;
  if (type == "tomcat") return LogType::kTomcat;
  if (type == "apache") return LogType::kApache;
  return LogType::kAuto;
}

int RunScan(const ScanOptions& options) {
  if (!options.xlsx.empty() && options.output == "-") {
    std::cerr << "ostrel-cli scan: --xlsx needs a result file, not standard output\n";
    return 2;
  }
  const FileLocations locations = FileLocations::ForThisProcess();
  const std::optional<std::string> ipdb_path = ChooseIpDatabase("scan", options.ipdb, locations);
  if (!ipdb_path) return 2;
  const TQQWry reader(*ipdb_path);
  if (!reader.HasDatabase()) {
    std::cerr << "ostrel-cli scan: cannot use the IP database " << *ipdb_path
              << " (missing, unreadable or not a QQWry.dat file)\n";
    return 2;
  }
  if (std::string error; options.output.empty() && !locations.CreateDataDir(&error)) {
    std::cerr << "ostrel-cli scan: " << error << '\n';
    return 2;
  }
  RunOutputs outputs(options.output.empty() ? locations.ResultFile() : fs::path(options.output));
  if (!options.xlsx.empty()) outputs.other_files.emplace_back(options.xlsx);
  // JSON Lines, CSV and the HTML report: --format, --jsonl, --csv, --report.
  ScanHitOutputs hit_outputs;
  if (!hit_outputs.Add(options.hit_outputs, options.output, options.xlsx, outputs)) return 2;
  const fs::path& output = outputs.result_path;

  RunOptions run_options;
  run_options.log_type = TypeOf(options.type_name);
  run_options.rule_set = Lower(options.rules_name) == "broad" ? RuleSet::kBroad : RuleSet::kCompact;
  run_options.drop_static = !options.keep_static;
  run_options.status_200_only = !options.any_status;
  run_options.encoding =
      Lower(options.encoding_name) == "gbk" ? ResultEncoding::kGbk : ResultEncoding::kUtf8;
  run_options.jobs = options.jobs;

  std::vector<fs::path> written = outputs.other_files;
  written.push_back(output);
  const std::vector<fs::path> inputs = CollectInputs(options.paths, written);
  TerminalProgress progress(!options.quiet && isatty(STDERR_FILENO) != 0);
  std::stop_source stop;
  hit_outputs.Prepare(run_options, inputs, stop.get_token(), outputs);
  const auto start = std::chrono::steady_clock::now();
  RunSummary summary;
  {
    InterruptToStop interrupts(stop);
    try {
      summary =
          RunAnalysisToOutputs(inputs, outputs, run_options, reader, progress, stop.get_token());
    } catch (const std::exception& error) {
      progress.Clear();
      std::cerr << "ostrel-cli scan: " << error.what() << '\n';
      return 2;
    }
  }
  progress.Clear();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!options.quiet) {
    std::fputs(SummaryLine(summary, seconds, hit_outputs.ResultName(outputs)).c_str(), stderr);
  }
  if (options.stats) std::fputs(StatsTable(summary).c_str(), stderr);
  std::fputs(Warnings(summary, run_options.log_type).c_str(), stderr);
  if (summary.stopped) return 130;  // interrupted, as shells report SIGINT
  if (!options.xlsx.empty()) {
    try {
      const std::uint64_t rows = ExportResultFileToXlsx(output, run_options.encoding, options.xlsx);
      if (!options.quiet) {
        std::fprintf(stderr, "workbook: %s (%llu rows)\n", options.xlsx.c_str(),
                     static_cast<unsigned long long>(rows));
      }
    } catch (const ExportError& error) {
      std::cerr << "ostrel-cli scan: " << error.what() << '\n';
      return 2;
    }
  }
  return summary.hits > 0 ? 0 : 1;
}

}  // namespace

void AddScanCommand(CLI::App& app, int& exit_status) {
  CLI::App* command = app.add_subcommand(
      "scan",
      "Analyses access logs and writes every suspicious line, with the client's location "
      "after its address, to the result file. Exit status: 0 hits found, 1 none, 2 error.");
  auto options = std::make_shared<ScanOptions>();
  command
      ->add_option("-t,--type", options->type_name,
                   "Log type: auto (each file's layout recognised: W3C, NCSA common/combined, "
                   "vhost_combined, Tomcat), iis (W3C, fixed fields), tomcat (Tomcat/Weblogic) "
                   "or apache (Apache/Nginx, HTTP/1.1 requests)")
      ->check(CLI::IsMember({"auto", "iis", "tomcat", "apache"}, CLI::ignore_case))
      ->capture_default_str();
  command
      ->add_option("-r,--rules", options->rules_name,
                   "Rule set: compact (slots 1-6) or broad (slots 1-8)")
      ->check(CLI::IsMember({"compact", "broad"}, CLI::ignore_case))
      ->capture_default_str();
  command->add_flag("--keep-static", options->keep_static,
                    "Keep requests for pictures, Flash files and style sheets");
  command->add_flag("--any-status", options->any_status,
                    "Keep requests with any status, not only 200");
  command->add_option("-o,--output", options->output,
                      "Result file (default: 1.log beside the executable, or in "
                      "~/.local/share/ostrel when installed; - for standard output); with "
                      "--format jsonl or csv, the file that format goes to (default: standard "
                      "output)");
  command
      ->add_option("--format", options->hit_outputs.format,
                   "What -o gets: log (the result file), jsonl (one JSON object per hit) or "
                   "csv (one row per hit); with jsonl or csv no result file is written")
      ->transform(CLI::IsMember({"log", "jsonl", "csv"}, CLI::ignore_case))
      ->capture_default_str();
  command->add_option("--jsonl", options->hit_outputs.jsonl,
                      "Also write every hit as JSON Lines to this file (- for standard "
                      "output)");
  command->add_option("--csv", options->hit_outputs.csv,
                      "Also write every hit as CSV (RFC 4180, header row) to this file (- for "
                      "standard output)");
  command->add_option("--report", options->hit_outputs.report,
                      "Also write an HTML report with charts to this file when the run ends");
  command
      ->add_option("--encoding", options->encoding_name,
                   "Encoding of the result file: utf-8 or gbk")
      ->check(CLI::IsMember({"utf-8", "gbk"}, CLI::ignore_case))
      ->capture_default_str();
  command->add_option("--ipdb", options->ipdb,
                      "IP database (default: QQWry.dat beside the executable, or the first "
                      "one found in ~/.local/share/ostrel, /usr/share/ostrel, ... when "
                      "installed)");
  command
      ->add_option("-j,--jobs", options->jobs, "Worker threads (default: one per core; at most 64)")
      ->check(CLI::Range(0u, 64u));
  command->add_flag("-q,--quiet", options->quiet, "No progress bar and no summary line");
  command->add_flag("--stats", options->stats,
                    "After the summary, a table of every file: layout, lines read, examined, "
                    "skipped, filtered, hits");
  command->add_option("--xlsx", options->xlsx,
                      "After the run, also write the result file to this .xlsx workbook "
                      "(sheet MainForm; MainForm2, ... past 1,048,576 rows)");
  command
      ->add_option("PATH", options->paths,
                   "Log files and folders (walked with their subfolders); - reads standard "
                   "input")
      ->required();
  command->callback([options, &exit_status] { exit_status = RunScan(*options); });
}

}  // namespace ostrel::cli
