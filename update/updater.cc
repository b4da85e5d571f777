#include "update/updater.h"

#include <system_error>

#include "update/ini_file.h"

#ifndef OSTREL_UPDATE_SERVER
#error "OSTREL_UPDATE_SERVER must be defined by the build"
#endif

namespace ostrel {
namespace {

// Brackets every transfer with the observer's begin and end calls.
TransferResult ObservedTransfer(HttpClient& client, const std::string& url,
                                const std::filesystem::path& path, UpdateObserver& observer) {
  observer.TransferBegin();
  const TransferResult result =
      client.DownloadToFile(url, path, [&observer](std::int64_t total, std::int64_t now) {
        return observer.TransferProgress(total, now);
      });
  observer.TransferEnd();
  return result;
}

// Records `version` for `name`. Gives false when the record cannot be read or written; an
// existing record that cannot be read is never overwritten, so its other entries survive.
bool RecordVersion(const std::filesystem::path& record_path, const std::string& name,
                   std::int32_t version) {
  std::error_code error_code;
  IniFile record;
  std::string error;
  if (std::filesystem::exists(record_path, error_code)) {
    std::optional<IniFile> loaded = IniFile::Load(record_path, &error);
    if (!loaded) return false;
    record = std::move(*loaded);
  } else if (error_code) {
    return false;
  }
  record.WriteString(DerivedSectionName(name), "Ver", std::to_string(version));
  return record.Save(record_path, &error);
}

}  // namespace

std::string DefaultManifestUrl() { return OSTREL_UPDATE_SERVER; }

std::string DerivedSectionName(std::string_view name) {
  std::string section(name);
  for (char& c : section) {
    if (c == '.') c = '_';
  }
  return section;
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (const char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

CheckResult CheckForUpdates(HttpClient& client, const UpdateSettings& settings,
                            UpdateObserver& observer) {
  CheckResult result;
  const std::filesystem::path record_path = settings.folder / kVersionRecordName;
  const std::filesystem::path copy_path = settings.folder / kManifestCopyName;
  std::error_code error_code;
  const bool has_record = std::filesystem::exists(record_path, error_code);

  result.transfer = ObservedTransfer(client, settings.manifest_url, copy_path, observer);
  if (!result.transfer.ok()) {
    result.error = result.transfer.message;
    return result;
  }
  std::optional<IniFile> manifest = IniFile::Load(copy_path, &result.error);
  if (!manifest) return result;
  // A body that is not INI text lists nothing, but one that is no text at all (a binary
  // file, a broken transfer) is a failed check rather than "nothing newer".
  if (!manifest->is_text()) {
    result.error = "the manifest is not text: " + settings.manifest_url;
    return result;
  }

  IniFile record;
  if (has_record) {
    // An unreadable record counts as an empty one: every entry is then offered again,
    // which is safe, while refusing the check would hide updates.
    std::string ignored;
    if (std::optional<IniFile> loaded = IniFile::Load(record_path, &ignored)) {
      record = std::move(*loaded);
    }
  }

  for (const std::string& section : manifest->SectionNames()) {
    UpdateEntry entry;
    entry.name = manifest->ReadString(section, "Name", "");
    entry.size = manifest->ReadString(section, "Size", "");
    entry.version_text = manifest->ReadString(section, "Ver", "");
    entry.url = manifest->ReadString(section, "URL", "");
    entry.version = manifest->ReadInteger(section, "Ver", 0);
    const std::int32_t local = record.ReadInteger(DerivedSectionName(entry.name), "Ver", 0);
    if (entry.version > local) result.entries.push_back(std::move(entry));
  }
  return result;
}

DownloadRunResult DownloadUpdates(HttpClient& client, const UpdateSettings& settings,
                                  const std::vector<UpdateEntry>& entries,
                                  UpdateObserver& observer) {
  DownloadRunResult result;
  const std::filesystem::path record_path = settings.folder / kVersionRecordName;
  for (std::size_t row = 0; row < entries.size(); ++row) {
    const UpdateEntry& entry = entries[row];
    observer.RowStarted(row);
    if (!IsPlainFileName(entry.name)) {
      ++result.failed;
      observer.RowFinished(row, false, "not a plain file name: " + entry.name);
      continue;
    }
    const TransferResult transfer =
        ObservedTransfer(client, entry.url, settings.folder / entry.name, observer);
    if (!transfer.ok()) {
      ++result.failed;
      observer.RowFinished(row, false, transfer.message);
      if (transfer.status == TransferStatus::kCancelled) {
        result.cancelled = true;
        return result;
      }
      continue;
    }
    ++result.done;
    observer.RowFinished(row, true, "");
    if (!RecordVersion(record_path, entry.name, entry.version)) {
      result.stopped_row = row;
      result.record_error = "Unable to write to " + record_path.string();
      return result;
    }
  }
  return result;
}

void RemoveManifestCopy(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::remove(folder / kManifestCopyName, ignored);
}

}  // namespace ostrel
