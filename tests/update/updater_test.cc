#include "update/updater.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/update/test_server.h"
#include "update/ini_file.h"

namespace ostrel {
namespace {

using testing::FolderEntries;
using testing::LocalHttpServer;
using testing::ReadWholeFile;
using testing::SilentServer;
using testing::TempFolder;
using testing::WriteWholeFile;

// Records what the updater reports.
class RecordingObserver : public UpdateObserver {
 public:
  void TransferBegin() override { events.push_back("begin"); }
  bool TransferProgress(std::int64_t, std::int64_t now) override {
    ++progress_calls;
    return cancel_after < 0 || now < cancel_after;
  }
  void TransferEnd() override { events.push_back("end"); }
  void RowStarted(std::size_t row) override {
    events.push_back("row " + std::to_string(row) + " " + kRowDownloading);
  }
  void RowFinished(std::size_t row, bool ok, const std::string&) override {
    events.push_back("row " + std::to_string(row) + " " + (ok ? kRowDone : kRowFailed));
  }

  std::vector<std::string> events;
  int progress_calls = 0;
  std::int64_t cancel_after = -1;
};

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get(R"(/(.*))",
                         [this](const httplib::Request& request, httplib::Response& response) {
                           const std::lock_guard lock(mutex_);
                           ++hits_[request.path];
                           const auto found = files_.find(request.path);
                           if (found == files_.end()) {
                             response.status = 404;
                             return;
                           }
                           response.set_content(found->second, "application/octet-stream");
                         });
    ASSERT_TRUE(server_.Start());
    settings_.manifest_url = server_.Url("/update.ini");
    settings_.folder = folder_.path();
  }

  void Serve(const std::string& path, const std::string& body) {
    const std::lock_guard lock(mutex_);
    files_[path] = body;
  }
  int Hits(const std::string& path) {
    const std::lock_guard lock(mutex_);
    return hits_[path];
  }

  // A manifest section for `name` at version text `ver`, served from /files/<name>.
  std::string Section(const std::string& section, const std::string& name, const std::string& ver) {
    return "[" + section + "]\nName=" + name + "\nSize=12KB\nVer=" + ver +
           "\nURL=" + server_.Url("/files/" + name) + "\n";
  }

  CheckResult Check() { return CheckForUpdates(client_, settings_, observer_); }

  static std::vector<std::string> Names(const CheckResult& result) {
    std::vector<std::string> names;
    for (const UpdateEntry& entry : result.entries) names.push_back(entry.name);
    return names;
  }

  LocalHttpServer server_;
  TempFolder folder_;
  HttpClient client_{[] {
    TransferOptions options;
    options.connect_timeout = std::chrono::milliseconds(1000);
    options.stall_timeout = std::chrono::seconds(1);
    return options;
  }()};
  UpdateSettings settings_;
  RecordingObserver observer_;
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::map<std::string, int> hits_;
};

TEST_F(UpdaterTest, WithoutLocalRecordListsEveryPositiveVersion) {
  Serve("/update.ini", Section("a", "a.dat", "3") + Section("b", "b.dat", "0x10") +
                           Section("c", "c.dat", "0") + "[d]\nName=d.dat\n" +
                           Section("e", "e.dat", "-1") + Section("f", "f.dat", "1.2"));
  const CheckResult result = Check();
  ASSERT_TRUE(result.ok()) << result.error;
  ASSERT_EQ(Names(result), (std::vector<std::string>{"a.dat", "b.dat"}));
  const UpdateEntry& hex = result.entries[1];
  EXPECT_EQ(hex.version_text, "0x10");
  EXPECT_EQ(hex.version, 16);
  EXPECT_EQ(hex.size, "12KB");
  EXPECT_EQ(hex.url, server_.Url("/files/b.dat"));
  // The manifest copy is the body exactly as sent.
  EXPECT_EQ(ReadWholeFile(folder_.path() / kManifestCopyName), files_["/update.ini"]);
  EXPECT_EQ(observer_.events, (std::vector<std::string>{"begin", "end"}));
}

TEST_F(UpdaterTest, ComparesWithTheRecordBySectionNameNotPosition) {
  // The record lists the files in another order than the manifest, and one is missing.
  WriteWholeFile(folder_.path() / kVersionRecordName,
                 "[c_dat]\nVer=1\n[B_DAT]\nVer=$10\n[a_dat]\nVer=5\n");
  Serve("/update.ini", Section("s1", "a.dat", "5") + Section("s2", "b.dat", "17") +
                           Section("s3", "c.dat", "1") + Section("s4", "new.file.dat", "1"));
  const CheckResult first = Check();
  ASSERT_TRUE(first.ok()) << first.error;
  EXPECT_EQ(Names(first), (std::vector<std::string>{"b.dat", "new.file.dat"}));
  // A second check gives the same rows, not twice as many.
  const CheckResult second = Check();
  EXPECT_EQ(Names(second), Names(first));
}

TEST_F(UpdaterTest, ManifestWithoutSectionsListsNothing) {
  Serve("/update.ini", "<html>not an ini file</html>");
  const CheckResult result = Check();
  EXPECT_TRUE(result.ok());
  EXPECT_TRUE(result.entries.empty());
}

// A body that is no text at all fails the check instead of listing nothing.
struct ManifestBody {
  const char* name;
  std::string body;
  bool is_text;
};

class ManifestTextTest : public UpdaterTest, public ::testing::WithParamInterface<ManifestBody> {};

TEST_P(ManifestTextTest, OnlyTextIsReadAsAManifest) {
  Serve("/update.ini", GetParam().body);
  const CheckResult result = Check();
  EXPECT_EQ(result.ok(), GetParam().is_text) << result.error;
  if (!GetParam().is_text) {
    EXPECT_TRUE(result.entries.empty());
    EXPECT_NE(result.error.find("not text"), std::string::npos) << result.error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ManifestTextTest,
    ::testing::Values(
        ManifestBody{"NulByte", std::string("[a]\nName=a.dat\nVer=1\n\0\x01", 23), false},
        ManifestBody{"NeitherUtf8NorGb18030", "[a]\nName=a.dat\nVer=1\n\xFF\xFF\x80\xC3", false},
        ManifestBody{"Gbk", "[a]\r\nName=\xB2\xE2.dat\r\nVer=1\r\n", true},
        ManifestBody{"Utf16WithMark", std::string("\xFF\xFE[\0a\0]\0\n\0", 10), true},
        ManifestBody{"Empty", "", true}),
    [](const ::testing::TestParamInfo<ManifestBody>& info) { return info.param.name; });

TEST_F(UpdaterTest, FailedManifestTransferKeepsThePreviousCopy) {
  WriteWholeFile(folder_.path() / kManifestCopyName, "[previous]\n");
  const CheckResult missing = Check();
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.transfer.status, TransferStatus::kHttpError);
  EXPECT_EQ(ReadWholeFile(folder_.path() / kManifestCopyName), "[previous]\n");

  SilentServer silent;
  settings_.manifest_url = silent.Url("/update.ini");
  const CheckResult dead = Check();
  EXPECT_EQ(dead.transfer.status, TransferStatus::kTimeout);

  RemoveManifestCopy(folder_.path());
  RemoveManifestCopy(folder_.path());  // a missing copy is no error
  EXPECT_TRUE(FolderEntries(folder_.path()).empty());
}

TEST_F(UpdaterTest, DownloadRecordsVersionsUnderDerivedSectionNames) {
  WriteWholeFile(folder_.path() / kVersionRecordName, "; local record\n[other]\nVer=9\n");
  WriteWholeFile(folder_.path() / "qqwry.v2.dat", "old database");
  Serve("/update.ini", Section("db", "qqwry.v2.dat", "0x20") + Section("gone", "gone.dat", "2") +
                           Section("tool", "tool", "3"));
  Serve("/files/qqwry.v2.dat", "new database");
  Serve("/files/tool", "tool body");
  const CheckResult check = Check();
  ASSERT_EQ(check.entries.size(), 3u);

  observer_.events.clear();
  const DownloadRunResult run = DownloadUpdates(client_, settings_, check.entries, observer_);
  EXPECT_EQ(run.done, 2u);
  EXPECT_EQ(run.failed, 1u);
  EXPECT_FALSE(run.stopped_row);
  EXPECT_EQ(ReadWholeFile(folder_.path() / "qqwry.v2.dat"), "new database");
  EXPECT_EQ(ReadWholeFile(folder_.path() / "tool"), "tool body");
  EXPECT_EQ(observer_.events,
            (std::vector<std::string>{"row 0 下载中", "begin", "end", "row 0 完成", "row 1 下载中",
                                      "begin", "end", "row 1 失败", "row 2 下载中", "begin", "end",
                                      "row 2 完成"}));

  std::string error;
  const std::optional<IniFile> record = IniFile::Load(folder_.path() / kVersionRecordName, &error);
  ASSERT_TRUE(record) << error;
  EXPECT_EQ(record->SectionNames(), (std::vector<std::string>{"other", "qqwry_v2_dat", "tool"}));
  EXPECT_EQ(record->ReadString("qqwry_v2_dat", "Ver", ""), "32");
  EXPECT_EQ(record->ReadString("other", "Ver", ""), "9");
  EXPECT_FALSE(record->HasSection("gone_dat"));
  EXPECT_EQ(ReadWholeFile(folder_.path() / kVersionRecordName).rfind("; local record\n", 0), 0u);

  // The next check lists only the file that failed.
  EXPECT_EQ(Names(Check()), std::vector<std::string>{"gone.dat"});
}

TEST_F(UpdaterTest, HostileNamesFailWithoutATransfer) {
  const std::vector<std::string> names = {"../x", "/etc/x", "a\\b", "..",
                                          ".",    "",       "a/b",  std::string("a\nb")};
  std::vector<UpdateEntry> entries;
  for (const std::string& name : names) {
    entries.push_back({name, "1", "1", server_.Url("/files/x"), 1});
  }
  Serve("/files/x", "payload");
  // The target is a folder inside our temporary one, so "../x" would land where we look.
  const std::filesystem::path target = folder_.path() / "target";
  std::filesystem::create_directory(target);
  settings_.folder = target;
  const DownloadRunResult run = DownloadUpdates(client_, settings_, entries, observer_);
  EXPECT_EQ(run.failed, names.size());
  EXPECT_EQ(run.done, 0u);
  EXPECT_EQ(Hits("/files/x"), 0);
  EXPECT_TRUE(FolderEntries(target).empty());
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "x"));
  EXPECT_TRUE(IsPlainFileName("a..b"));
  EXPECT_TRUE(IsPlainFileName("升级.dat"));
}

TEST_F(UpdaterTest, UnwritableRecordStopsTheRunWithTheErrorText) {
  std::filesystem::create_directory(folder_.path() / kVersionRecordName);
  Serve("/files/a.dat", "a");
  Serve("/files/b.dat", "b");
  const std::vector<UpdateEntry> entries = {{"a.dat", "1", "1", server_.Url("/files/a.dat"), 1},
                                            {"b.dat", "1", "1", server_.Url("/files/b.dat"), 1}};
  const DownloadRunResult run = DownloadUpdates(client_, settings_, entries, observer_);
  ASSERT_EQ(run.stopped_row, std::optional<std::size_t>(0));
  EXPECT_EQ(run.record_error,
            "Unable to write to " + (folder_.path() / kVersionRecordName).string());
  EXPECT_EQ(run.done, 1u);
  EXPECT_EQ(Hits("/files/b.dat"), 0);
}

TEST_F(UpdaterTest, UnreadableRecordIsNeverOverwritten) {
  const auto record = folder_.path() / kVersionRecordName;
  WriteWholeFile(record, "[keep]\nVer=1\n");
  std::filesystem::permissions(record, std::filesystem::perms::none);
  if (::access(record.c_str(), R_OK) == 0) GTEST_SKIP() << "running with file-read privileges";
  Serve("/files/a.dat", "a");
  const DownloadRunResult run = DownloadUpdates(
      client_, settings_, {{"a.dat", "1", "1", server_.Url("/files/a.dat"), 1}}, observer_);
  EXPECT_TRUE(run.stopped_row);
  std::filesystem::permissions(record, std::filesystem::perms::owner_read);
  EXPECT_EQ(ReadWholeFile(record), "[keep]\nVer=1\n");
}

TEST_F(UpdaterTest, CancelledTransferStopsTheRunAndKeepsTheOldFile) {
  WriteWholeFile(folder_.path() / "a.dat", "old");
  Serve("/files/a.dat", std::string(100000, 'n'));
  Serve("/files/b.dat", "b");
  observer_.cancel_after = 0;
  const DownloadRunResult run =
      DownloadUpdates(client_, settings_,
                      {{"a.dat", "1", "1", server_.Url("/files/a.dat"), 1},
                       {"b.dat", "1", "1", server_.Url("/files/b.dat"), 1}},
                      observer_);
  EXPECT_TRUE(run.cancelled);
  EXPECT_EQ(ReadWholeFile(folder_.path() / "a.dat"), "old");
  EXPECT_EQ(Hits("/files/b.dat"), 0);
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"a.dat"});
}

TEST(UpdaterNamesTest, DerivedSectionNameReplacesEveryDot) {
  EXPECT_EQ(DerivedSectionName("a.b.c.dat"), "a_b_c_dat");
  EXPECT_EQ(DerivedSectionName("noext"), "noext");
  EXPECT_EQ(DefaultManifestUrl().rfind("http://", 0), 0u);
}

}  // namespace
}  // namespace ostrel
