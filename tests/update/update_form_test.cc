#include "app/update_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/update/test_server.h"

namespace ostrel {
namespace {

using testing::FolderEntries;
using testing::LocalHttpServer;
using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WriteWholeFile;

struct ShownMessage {
  QMessageBox::Icon icon;
  QString caption;
  QString text;
};

class UpdateFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
    server_.server().Get(
        R"(/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
          if (request.path == "/slow") {
            // Drips until the client goes away, for at most ten seconds.
            response.set_chunked_content_provider(
                "application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
                  if (offset >= 200 * 100) return false;
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
                  const std::string block(100, 's');
                  return sink.is_writable() && sink.write(block.data(), block.size());
                });
            return;
          }
          const std::lock_guard lock(mutex_);
          const auto found = files_.find(request.path);
          if (found == files_.end()) {
            response.status = 404;
            return;
          }
          response.set_content(found->second, "application/octet-stream");
        });
    ASSERT_TRUE(server_.Start());
    form_ = std::make_unique<TUpdateForm>(server_.Url("/update.ini"), folder_.path());
    TransferOptions options;
    options.connect_timeout = std::chrono::milliseconds(1000);
    options.stall_timeout = std::chrono::seconds(2);
    form_->SetTransferOptions(options);
    form_->SetMessageBox(
        [this](QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text) {
          messages_.push_back({icon, caption, text});
        });
    QObject::connect(form_.get(), &TUpdateForm::CheckDone, [this] { ++checks_done_; });
    QObject::connect(form_.get(), &TUpdateForm::DownloadDone, [this] { ++downloads_done_; });
  }

  void TearDown() override {
    form_.reset();
    app_.reset();
  }

  void Serve(const std::string& path, const std::string& body) {
    const std::lock_guard lock(mutex_);
    files_[path] = body;
  }

  std::string Section(const std::string& name, const std::string& ver, const std::string& path) {
    return "[" + name + "]\nName=" + name + "\nSize=1KB\nVer=" + ver +
           "\nURL=" + server_.Url(path) + "\n";
  }

  // Processes events until `done` holds; gives false after ten seconds.
  template <typename Condition>
  bool WaitFor(Condition done) {
    for (int round = 0; round < 2000 && !done(); ++round) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(5);
    }
    QCoreApplication::processEvents();
    return done();
  }

  template <typename T>
  T* Child(const char* name) {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }
  QTableWidget* List() { return Child<QTableWidget>("ListView1"); }
  QString Status() { return Child<QStatusBar>("StatusBar1")->currentMessage(); }
  QString Cell(int row, int column) { return List()->item(row, column)->text(); }

  bool Check() {
    const int before = checks_done_;
    Child<QPushButton>("ScanButton")->click();
    return WaitFor([&] { return checks_done_ > before; });
  }
  bool Download() {
    const int before = downloads_done_;
    Child<QPushButton>("DownFileButton")->click();
    return WaitFor([&] { return downloads_done_ > before; });
  }

  int argc_ = 1;
  char arg0_[8] = "test";
  char* argv_[2] = {arg0_, nullptr};
  std::unique_ptr<QApplication> app_;
  LocalHttpServer server_;
  TempFolder folder_;
  std::unique_ptr<TUpdateForm> form_;
  std::vector<ShownMessage> messages_;
  int checks_done_ = 0;
  int downloads_done_ = 0;
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
};

TEST_F(UpdateFormTest, OpensWithItsCaptionsAndStates) {
  EXPECT_EQ(form_->windowTitle(), QString::fromUtf8("升级窗口"));
  const QStringList captions = {"文件名", "大小", "代号", "地     址", "状态"};
  ASSERT_EQ(List()->columnCount(), 5);
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(List()->horizontalHeaderItem(column)->text(), captions[column]);
  }
  EXPECT_EQ(List()->columnWidth(0), 88);
  EXPECT_EQ(List()->columnWidth(2), 72);
  EXPECT_EQ(List()->columnWidth(3), 190);
  EXPECT_EQ(Child<QPushButton>("ScanButton")->text(), QString::fromUtf8("检测"));
  EXPECT_EQ(Child<QPushButton>("DownFileButton")->text(), QString::fromUtf8("下载"));
  EXPECT_EQ(Child<QPushButton>("CloseButton")->text(), QString::fromUtf8("关闭"));
  EXPECT_TRUE(Child<QPushButton>("DownFileButton")->isEnabled());
  EXPECT_TRUE(Status().isEmpty());
}

TEST_F(UpdateFormTest, CheckListsNewerFilesAndClosingDeletesTheManifestCopy) {
  Serve("/update.ini", Section("a.dat", "0x10", "/a") + Section("b.dat", "0", "/b"));
  ASSERT_TRUE(Check());
  ASSERT_EQ(List()->rowCount(), 1);
  EXPECT_EQ(Cell(0, 0), "a.dat");
  EXPECT_EQ(Cell(0, 1), "1KB");
  EXPECT_EQ(Cell(0, 2), "0x10");
  EXPECT_EQ(Cell(0, 3), QString::fromStdString(server_.Url("/a")));
  EXPECT_EQ(Cell(0, 4), QString::fromUtf8("未下载"));
  EXPECT_EQ(Status(), QString::fromUtf8("就绪..."));
  EXPECT_TRUE(Child<QPushButton>("ScanButton")->isEnabled());
  EXPECT_TRUE(messages_.empty());
  // A second check gives the same rows.
  ASSERT_TRUE(Check());
  EXPECT_EQ(List()->rowCount(), 1);
  EXPECT_TRUE(std::filesystem::exists(folder_.path() / "tmp.ini"));
  form_.reset();
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "tmp.ini"));
}

TEST_F(UpdateFormTest, NothingNewerSaysSoAndAFailedCheckKeepsTheRows) {
  Serve("/update.ini", Section("a.dat", "0", "/a"));
  ASSERT_TRUE(Check());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(messages_[0].caption, QString::fromUtf8("信息"));
  EXPECT_EQ(messages_[0].text, QString::fromUtf8("已是最新版！"));

  Serve("/update.ini", Section("a.dat", "1", "/a"));
  ASSERT_TRUE(Check());
  ASSERT_EQ(List()->rowCount(), 1);
  {
    const std::lock_guard lock(mutex_);
    files_.erase("/update.ini");
  }
  ASSERT_TRUE(Check());
  EXPECT_EQ(Status(), QString::fromUtf8("检测升级文件失败!"));
  EXPECT_EQ(List()->rowCount(), 1);
  EXPECT_TRUE(Child<QPushButton>("ScanButton")->isEnabled());
}

TEST_F(UpdateFormTest, DownloadMarksRowsAndRecordsVersions) {
  Serve("/update.ini", Section("a.dat", "$20", "/a") + Section("b.dat", "2", "/missing"));
  Serve("/a", std::string(50000, 'a'));
  ASSERT_TRUE(Check());
  ASSERT_EQ(List()->rowCount(), 2);
  ASSERT_TRUE(Download());
  EXPECT_EQ(Cell(0, 4), QString::fromUtf8("完成"));
  EXPECT_EQ(Cell(1, 4), QString::fromUtf8("失败"));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].caption, QString::fromUtf8("信息"));
  EXPECT_EQ(messages_[0].text, QString::fromUtf8("下载升级文件完成"));
  EXPECT_EQ(Status(), QString::fromUtf8("就绪..."));
  EXPECT_TRUE(Child<QPushButton>("ScanButton")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("DownFileButton")->isEnabled());
  EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), 0);
  EXPECT_EQ(ReadWholeFile(folder_.path() / "a.dat"), std::string(50000, 'a'));
  EXPECT_EQ(ReadWholeFile(folder_.path() / "update.ini"), "[a_dat]\nVer=32\n");
}

TEST_F(UpdateFormTest, DownloadWithAnEmptyListFinishesAtOnce) {
  ASSERT_TRUE(Download());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, QString::fromUtf8("下载升级文件完成"));
  EXPECT_EQ(Status(), QString::fromUtf8("就绪..."));
  EXPECT_TRUE(FolderEntries(folder_.path()).empty());
}

TEST_F(UpdateFormTest, UnwritableRecordShowsTheErrorAndLeavesTheWindowUsable) {
  std::filesystem::create_directory(folder_.path() / "update.ini");
  Serve("/update.ini", Section("a.dat", "1", "/a"));
  Serve("/a", "a");
  ASSERT_TRUE(Check());
  ASSERT_TRUE(Download());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(messages_[0].caption, QString::fromUtf8("错误"));
  EXPECT_EQ(messages_[0].text.toStdString(),
            "Unable to write to " + (folder_.path() / "update.ini").string());
  EXPECT_EQ(Cell(0, 4), QString::fromUtf8("完成"));
  EXPECT_TRUE(Child<QPushButton>("ScanButton")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("DownFileButton")->isEnabled());
}

TEST_F(UpdateFormTest, ClosingDuringATransferCancelsItCleanly) {
  WriteWholeFile(folder_.path() / "slow.dat", "old");
  Serve("/update.ini", Section("slow.dat", "1", "/slow"));
  ASSERT_TRUE(Check());
  form_->show();
  Child<QPushButton>("DownFileButton")->click();
  ASSERT_TRUE(WaitFor([&] { return Child<QProgressBar>("ProgressBar1")->value() > 0; }));
  EXPECT_EQ(Cell(0, 4), QString::fromUtf8("下载中"));
  Child<QPushButton>("CloseButton")->click();
  EXPECT_FALSE(form_->isVisible());
  form_.reset();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(ReadWholeFile(folder_.path() / "slow.dat"), "old");
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"slow.dat"});
}

}  // namespace
}  // namespace ostrel
