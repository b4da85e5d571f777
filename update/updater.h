#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/http_transfer.h"

namespace ostrel {

// Files the updater keeps in its folder: the local version record and the local copy of
// the manifest.
inline constexpr char kVersionRecordName[] = "update.ini";
inline constexpr char kManifestCopyName[] = "tmp.ini";

// Row status texts.
inline constexpr char kRowNotDownloaded[] = "未下载";
inline constexpr char kRowDownloading[] = "下载中";
inline constexpr char kRowDone[] = "完成";
inline constexpr char kRowFailed[] = "失败";

// The built-in manifest address (set at build time).
std::string DefaultManifestUrl();

// The section of the version record that holds a file's version: `name` with every "."
// replaced by "_".
std::string DerivedSectionName(std::string_view name);

// True when `name` is a plain file name: not empty, not "." or "..", and without "/",
// "\\" or control characters. Only such names are downloaded, so every file lands in the
// updater's folder.
bool IsPlainFileName(std::string_view name);

// One manifest entry newer than the local record, with its texts as the manifest has them.
struct UpdateEntry {
  std::string name;
  std::string size;
  std::string version_text;
  std::string url;
  std::int32_t version = 0;  // version_text as read by ParseProfileInteger
};

// Where the updater works.
struct UpdateSettings {
  std::string manifest_url;      // address of the manifest
  std::filesystem::path folder;  // receives tmp.ini, update.ini and the downloaded files
};

// Receives what a check or a download run does, on the thread that runs it.
class UpdateObserver {
 public:
  virtual ~UpdateObserver() = default;
  // A transfer starts.
  virtual void TransferBegin() {}
  // Progress of the current transfer (total 0 while unknown); false cancels it.
  virtual bool TransferProgress(std::int64_t /*total*/, std::int64_t /*now*/) { return true; }
  // The current transfer ended, whatever its outcome.
  virtual void TransferEnd() {}
  // Row `row` of the download run starts ("下载中").
  virtual void RowStarted(std::size_t /*row*/) {}
  // Row `row` ended: "完成" when `ok`, else "失败" with `reason`.
  virtual void RowFinished(std::size_t /*row*/, bool /*ok*/, const std::string& /*reason*/) {}
};

struct CheckResult {
  TransferResult transfer;           // the manifest transfer
  std::string error;                 // why the check failed; empty on success
  std::vector<UpdateEntry> entries;  // newer entries, in manifest order

  bool ok() const { return error.empty(); }
};

// The check: fetches the manifest into `folder`/tmp.ini, reads the local record
// `folder`/update.ini when it exists and gives the manifest entries whose Ver is above the
// locally recorded one. The local version of an entry is the Ver of the record's section
// named DerivedSectionName(Name) (0 when missing), which is where DownloadUpdates records
// it. Fails (error set, no entries) when the manifest cannot be fetched or read, or is not
// text at all (IniFile::is_text). tmp.ini is left in place; RemoveManifestCopy deletes it.
CheckResult CheckForUpdates(HttpClient& client, const UpdateSettings& settings,
                            UpdateObserver& observer);

struct DownloadRunResult {
  std::size_t done = 0;
  std::size_t failed = 0;
  bool cancelled = false;                  // a transfer was cancelled; later rows skipped
  std::optional<std::size_t> stopped_row;  // the row whose version could not be recorded
  std::string record_error;                // "Unable to write to <record path>"
};

// The download run: fetches every entry in order into `folder`/Name (a Name that is not a
// plain file name fails its row without a transfer) and, after each success, records the
// version as a decimal under key Ver in section DerivedSectionName(Name) of
// `folder`/update.ini, keeping everything else in that file. A failed row does not stop the
// run; a cancelled transfer or a record that cannot be written does (record_error set, the
// row counted as done). Never touches the record for a failed row.
DownloadRunResult DownloadUpdates(HttpClient& client, const UpdateSettings& settings,
                                  const std::vector<UpdateEntry>& entries,
                                  UpdateObserver& observer);

// Deletes `folder`/tmp.ini; a missing file is no error.
void RemoveManifestCopy(const std::filesystem::path& folder);

}  // namespace ostrel
