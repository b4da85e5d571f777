// Flows of the main window: start-up, input selection, the run on its worker thread, the
// end-of-run questions, the hit table, the bulk export, row deletion and the file list's
// colours. Every box and dialog is answered by FakeDialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>

#include "app/about_form.h"
#include "app/app_main.h"
#include "app/dialogs.h"
#include "app/file_list_paint.h"
#include "app/hit_table.h"
#include "app/main_form.h"
#include "engine/result_table.h"
#include "engine/run.h"
#include "export/excel_export.h"
#include "tests/app/qt_print.h"
#include "tools/qqwry_builder/qqwry_builder.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

// Answers every box and dialog from scripted values and records what was shown.
class FakeDialogs : public Dialogs {
 public:
  struct Box {
    std::string kind;  // "ask", "warn" or "error"
    QString text;
    QString caption;
  };

  bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
    boxes.push_back({"ask", text, caption});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void Warn(QWidget*, const QString& text, const QString& caption) override {
    boxes.push_back({"warn", text, caption});
  }
  void Error(QWidget*, const QString& text, const QString& caption) override {
    boxes.push_back({"error", text, caption});
  }
  QStringList PickFiles(QWidget*, const QString& start_dir, const QString& filter) override {
    file_dialog_dir = start_dir;
    file_dialog_filter = filter;
    return files;
  }
  QString PickFolder(QWidget*, const QString& prompt, const QString& start_dir) override {
    folder_prompt = prompt;
    folder_dialog_dir = start_dir;
    return folder;
  }
  void PopUp(QMenu& menu, const QPoint&) override {
    popped_menus.push_back(menu.objectName());
    for (QAction* action : menu.actions()) {
      if (action->objectName() == menu_choice && action->isEnabled()) action->trigger();
    }
  }
  void ShowModal(QDialog& dialog) override {
    modal_dialogs.push_back(QString::fromLatin1(dialog.metaObject()->className()));
    if (const auto* text = dialog.findChild<QPlainTextEdit*>(QStringLiteral("CellText"))) {
      modal_texts.push_back(text->toPlainText());
    }
  }
  bool OpenUrl(const QUrl& url) override {
    opened.push_back(url);
    return open_succeeds;
  }

  std::vector<Box> boxes;
  std::deque<bool> answers;
  QStringList files;
  QString folder;
  QString menu_choice;
  bool open_succeeds = true;
  QString file_dialog_dir, file_dialog_filter, folder_prompt, folder_dialog_dir;
  std::vector<QString> popped_menus;
  std::vector<QString> modal_dialogs;
  std::vector<QString> modal_texts;  // the cell window's text, when it was one
  std::vector<QUrl> opened;
};

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// An Apache access-log line for `target` from `ip` answered with `status`.
std::string ApacheLine(const std::string& ip, const std::string& target, int status = 200) {
  return ip + " - - [01/Dec/2026:10:01:37 +0800] \"GET " + target + " HTTP/1.1\" " +
         std::to_string(status) + " 512 \"-\" \"Mozilla/5.0\"\r\n";
}

constexpr char kAttack[] = "/index.php?id=1%20union%20select%201,2,3,4--";
constexpr char kAttack2[] = "/download.php?file=../../../../etc/passwd";
constexpr char kBenign[] = "/news/today.html";

// A hit line as the result file holds it for an Apache log.
const std::string kApacheHit =
    "1.2.3.4 测试机房 - - [01/dec/2026:10:01:37 +0800] \"get /a.php?id=1 http/1.1\" 200 512 "
    "\"-\" \"mozilla/5.0\"";

// Writes the result file as a run would: the header line, then `hits`; reports every input
// as started, one line of progress and finished. While `*error` is not empty it stops
// after the hits with that RunError instead of finishing the first file.
RunFunction ScriptedRun(std::vector<std::string> hits, const std::string* error = nullptr) {
  return [hits = std::move(hits), error](const std::vector<fs::path>& inputs,
                                         const RunOutputs& outputs, const RunOptions& options,
                                         const TQQWry&, RunSink& sink, std::stop_token) {
    std::ofstream out(outputs.result_path, std::ios::binary | std::ios::trunc);
    out << ResultHeader(options.log_type) << "\r\n";
    for (const std::string& hit : hits) out << hit << "\r\n";
    out.close();
    RunSummary summary;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      sink.FileStarted(i, inputs.size(), inputs[i]);
      sink.LineProgress(1, 1, hits.size());
      if (error != nullptr && !error->empty()) throw RunError(*error, inputs[i], 2);
      sink.FileFinished(i);
      ++summary.files;
    }
    summary.hits = hits.size();
    return summary;
  };
}

// A run that writes one hit and then waits until `release` is set or a stop is requested;
// counts its calls in `runs`.
RunFunction GatedRun(std::atomic<bool>& release, std::atomic<int>& runs) {
  return [&release, &runs](const std::vector<fs::path>& inputs, const RunOutputs& outputs,
                           const RunOptions& options, const TQQWry&, RunSink& sink,
                           std::stop_token stop) {
    ++runs;
    {
      std::ofstream out(outputs.result_path, std::ios::binary | std::ios::trunc);
      out << ResultHeader(options.log_type) << "\r\n" << kApacheHit << "\r\n";
    }
    RunSummary summary;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      sink.FileStarted(i, inputs.size(), inputs[i]);
      while (!release && !stop.stop_requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (stop.stop_requested()) {
        summary.stopped = true;
        return summary;
      }
      sink.FileFinished(i);
    }
    return summary;
  };
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) /
           (std::string("ostrel_app_") + info->name() + "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "exe");
    fs::create_directories(dir_ / "logs");
    // One record for every address: country "测试", area "机房" (shown as "测试机房").
    std::vector<QQWryEntry> entries(1);
    entries[0].country = "\xB2\xE2\xCA\xD4";  // "测试" in GBK
    entries[0].area = "\xBB\xFA\xB7\xBF";     // "机房"
    WriteFile(dir_ / "exe" / "QQWry.dat", BuildQQWry(entries));
    config_.exe_dir = dir_ / "exe";
    config_.result_path = dir_ / "exe" / "1.log";
    config_.update_manifest_url = "http://127.0.0.1:9/update.ini";
  }

  void TearDown() override {
    form_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  TMainForm& Form() {
    if (!form_) form_ = TMainForm::Create(config_, dialogs_);
    return *form_;
  }

  template <typename T>
  T* Child(const char* name) {
    T* child = Form().findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  QTableWidget& FileList() { return *Child<QTableWidget>("StringGrid2"); }
  QTableWidget& HitTable() { return *Child<QTableWidget>("StringGrid1"); }

  fs::path Log(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / "logs" / name;
    WriteFile(path, text);
    return path;
  }

  // Picks `paths` through the "文件" menu item of the "..." button.
  void ChooseFiles(const std::vector<fs::path>& paths) {
    dialogs_.files.clear();
    for (const fs::path& path : paths) dialogs_.files << Q(path);
    Form().N1Click();
  }

  void WaitForRunEnd() {
    QElapsedTimer timer;
    timer.start();
    while (Form().IsRunning() && timer.elapsed() < 60000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(Form().IsRunning()) << "the run did not end";
    QCoreApplication::processEvents();
  }

  // Chooses an Apache log, runs it with the Apache type and waits for the end.
  void SelectApache() {
    Child<QGroupBox>("WebTypeRadioGroup")->findChildren<QRadioButton*>()[2]->setChecked(true);
  }

  void RunApache(const std::vector<fs::path>& paths) {
    ChooseFiles(paths);
    SelectApache();
    Form().StartButtonClick();
    WaitForRunEnd();
  }

  QString CellText(QTableWidget& grid, int row, int column) {
    const QTableWidgetItem* item = grid.item(row, column);
    return item != nullptr ? item->text() : QString();
  }

  fs::path dir_;
  MainFormConfig config_;
  FakeDialogs dialogs_;
  std::unique_ptr<TMainForm> form_;
};

TEST_F(MainFormTest, StartUpWithoutDatabaseWarnsAndServesNoWindow) {
  fs::remove(config_.exe_dir / "QQWry.dat");
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(RunOstrel(*app, dialogs_, config_), 1);
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "warn");
  EXPECT_EQ(dialogs_.boxes[0].text, QStringLiteral("在当前目录下没有IP地址库QQWry.dat！"));
  EXPECT_EQ(dialogs_.boxes[0].caption, QStringLiteral("IP地址库调用失败"));
  for (QWidget* widget : QApplication::topLevelWidgets()) EXPECT_FALSE(widget->isVisible());
}

// Installed system-wide: QQWry.dat from the tree's share/ostrel, the result file in the
// user's data folder, help.html from the installed documents; nothing beside the program.
TEST_F(MainFormTest, InstalledLayoutRunsFromTheUsersDataFolder) {
  const fs::path prefix = dir_ / "prefix";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "share/ostrel");
  fs::create_directories(prefix / "share/doc/ostrel");
  fs::rename(config_.exe_dir / "QQWry.dat", prefix / "share/ostrel/QQWry.dat");
  WriteFile(prefix / "share/doc/ostrel/help.html", "<html></html>");
  const FileLocations locations =
      FileLocations::Decide(prefix / "bin", {(dir_ / "data").string(), "/nonexistent", ""});
  std::string error;
  ASSERT_TRUE(locations.CreateDataDir(&error)) << error;
  config_.exe_dir = prefix / "bin";
  config_.locations = locations;
  config_.result_path = locations.ResultFile();

  RunApache({Log("access.log", ApacheLine("1.2.3.4", kAttack) + ApacheLine("1.2.3.4", kBenign))});
  const std::string result = ReadFile(dir_ / "data/ostrel/1.log");
  EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 2) << result;  // header and hit
  EXPECT_NE(result.find("1.2.3.4 测试机房"), std::string::npos) << result;
  Form().ExplainButtonClick();
  ASSERT_FALSE(dialogs_.opened.empty());
  EXPECT_EQ(dialogs_.opened.back(), QUrl::fromLocalFile(Q(prefix / "share/doc/ostrel/help.html")));
  EXPECT_EQ(std::distance(fs::directory_iterator(prefix / "bin"), fs::directory_iterator()), 0);
}

TEST_F(MainFormTest, InstalledLayoutWithoutDatabaseNamesTheFoldersSearched) {
  fs::remove(config_.exe_dir / "QQWry.dat");
  const fs::path bin = dir_ / "prefix/bin";
  fs::create_directories(bin);
  fs::create_directories(dir_ / "prefix/share/ostrel");
  config_.locations = FileLocations::Decide(bin, {(dir_ / "data").string(), "/nowhere", ""});
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(RunOstrel(*app, dialogs_, config_), 1);
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  const QString& text = dialogs_.boxes[0].text;
  EXPECT_TRUE(text.startsWith(QStringLiteral("在当前目录下没有IP地址库QQWry.dat！")))
      << text.toStdString();
  for (const fs::path& folder :
       {dir_ / "data/ostrel", fs::path("/nowhere/ostrel"), dir_ / "prefix/share/ostrel", bin}) {
    EXPECT_TRUE(text.contains(Q(folder))) << folder;
  }
}

TEST_F(MainFormTest, StartsWithTheDefaultsAndAnEmptyFileList) {
  EXPECT_EQ(Form().windowTitle(), QStringLiteral("【Varnok】系列五：Ostrel Ver:2.6"));
  EXPECT_EQ(Form().size(), QSize(878, 415));
  Form().show();
  EXPECT_EQ(Form().size(), QSize(878, 415));  // no minimum size hint pushes it wider
  EXPECT_FALSE(Form().windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(FileList().rowCount(), 998);
  EXPECT_EQ(FileList().columnCount(), 3);
  EXPECT_EQ(FileList().horizontalHeaderItem(1)->text(), QStringLiteral("文件名"));
  EXPECT_TRUE(FileList().isVisibleTo(&Form()));
  EXPECT_FALSE(HitTable().isVisibleTo(&Form()));
  EXPECT_EQ(HitTable().columnCount(), 30);
  EXPECT_TRUE(Child<QLineEdit>("ReadEdit")->text().isEmpty());
  EXPECT_EQ(Child<QLineEdit>("ReadEdit")->toolTip(), QStringLiteral("可选取多个日志文件"));
  EXPECT_FALSE(Child<QPushButton>("ExcelButton")->isEnabled());
  EXPECT_TRUE(Child<QCheckBox>("PicCheckBox")->isChecked());
  EXPECT_TRUE(Child<QCheckBox>("StatusCheckBox")->isChecked());
  for (const char* group : {"WafRadioGroup", "WebTypeRadioGroup"}) {
    EXPECT_TRUE(Child<QGroupBox>(group)->findChildren<QRadioButton*>()[0]->isChecked());
  }
  EXPECT_EQ(Child<QLabel>("StatusPanel0")->text(),
            QStringLiteral("   【功能】：日志分析，筛选出可疑攻击行为"));
  EXPECT_EQ(Child<QLabel>("StatusPanel1")->text(),
            QStringLiteral("使用前，请先行观看【使用说明】！"));
}

TEST_F(MainFormTest, StartWithoutInputWarnsAndTouchesNothing) {
  Form().StartButtonClick();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "warn");
  EXPECT_EQ(dialogs_.boxes[0].text, QStringLiteral("先打开日志文件！"));
  EXPECT_EQ(dialogs_.boxes[0].caption, QStringLiteral("失败"));
  EXPECT_FALSE(Form().IsRunning());
  EXPECT_FALSE(fs::exists(config_.result_path));
  EXPECT_EQ(FileList().rowCount(), 998);
}

TEST_F(MainFormTest, ChoosingFilesReplacesTheListAndACancelKeepsIt) {
  const fs::path a = Log("a.log", ""), b = Log("b.log", ""), c = Log("c.log", "");
  dialogs_.menu_choice = QStringLiteral("N1");
  dialogs_.files = {Q(a), Q(b), Q(c)};
  Form().OpenButtonClick();
  EXPECT_EQ(dialogs_.popped_menus, std::vector<QString>{QStringLiteral("open_PopupMenu")});
  EXPECT_EQ(dialogs_.file_dialog_filter,
            QStringLiteral("IIS W3C /Apache/Ngnix /Tomcat /Weblogic 日志 (*)"));
  EXPECT_EQ(dialogs_.file_dialog_dir, Q(config_.exe_dir));
  ASSERT_EQ(FileList().rowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(CellText(FileList(), row, 0), QString::number(row + 1));
    EXPECT_TRUE(CellText(FileList(), row, 2).isEmpty());
  }
  EXPECT_EQ(CellText(FileList(), 1, 1), Q(b));
  EXPECT_EQ(Child<QLineEdit>("ReadEdit")->text(), Q(a));

  dialogs_.files.clear();  // cancelled
  Form().N1Click();
  EXPECT_EQ(FileList().rowCount(), 3);
  EXPECT_EQ(Child<QLineEdit>("ReadEdit")->text(), Q(a));
}

TEST_F(MainFormTest, ChoosingAFolderWalksItAndACancelEmptiesTheList) {
  fs::create_directories(dir_ / "logs" / "sub");
  Log("sub/deep.log", "");
  Log("top.log", "");
  dialogs_.folder = Q(dir_ / "logs");
  Form().N2Click();
  EXPECT_EQ(dialogs_.folder_prompt, QStringLiteral("请选择文件夹(遍历文件夹下文件)"));
  ASSERT_EQ(FileList().rowCount(), 2);
  EXPECT_EQ(CellText(FileList(), 0, 1), Q(dir_ / "logs" / "top.log"));
  EXPECT_EQ(CellText(FileList(), 1, 1), Q(dir_ / "logs" / "sub" / "deep.log"));
  EXPECT_EQ(Child<QLineEdit>("ReadEdit")->text(), Q(dir_ / "logs" / "top.log"));

  dialogs_.folder.clear();  // cancelled
  Form().N2Click();
  EXPECT_EQ(FileList().rowCount(), 0);
  EXPECT_TRUE(Child<QLineEdit>("ReadEdit")->text().isEmpty());
}

TEST_F(MainFormTest, RunAsksToImportAndLoadsTheHitTable) {
  const fs::path log =
      Log("access.log", ApacheLine("1.2.3.4", kAttack) + ApacheLine("1.2.3.5", kBenign) +
                            ApacheLine("5.6.7.8", kAttack2));
  dialogs_.answers = {true};
  RunApache({log});

  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "ask");
  EXPECT_EQ(dialogs_.boxes[0].text, Q(config_.result_path) + QStringLiteral(" 是否导入到下表中？"));
  EXPECT_EQ(dialogs_.boxes[0].caption, QStringLiteral("询问"));
  EXPECT_EQ(CellText(FileList(), 0, 2), QStringLiteral("完成"));
  EXPECT_EQ(Child<QLabel>("StatusPanel0")->text(),
            QString::fromStdString(StatusPanel1Text(3, 3, 2)));
  EXPECT_EQ(Child<QLabel>("StatusPanel1")->text(),
            QString::fromStdString(StatusPanel2Text("access.log", 1, 1)));
  EXPECT_EQ(Child<QLineEdit>("ReadEdit")->text(), Q(log));

  QTableWidget& table = HitTable();
  EXPECT_TRUE(table.isVisibleTo(&Form()));
  EXPECT_FALSE(FileList().isVisibleTo(&Form()));
  EXPECT_TRUE(Child<QPushButton>("ExcelButton")->isEnabled());
  EXPECT_TRUE(Form().windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(table.selectionMode(), QAbstractItemView::ContiguousSelection);
  // Client IP, the location text, then the rest of the line cut by the cell rule.
  ASSERT_EQ(table.rowCount(), 2);
  ASSERT_EQ(table.columnCount(), 11) << ReadFile(config_.result_path);
  EXPECT_EQ(table.horizontalHeaderItem(0)->text(), QStringLiteral("客户端IP"));
  EXPECT_EQ(table.horizontalHeaderItem(1)->text(), QStringLiteral("物理地址"));
  EXPECT_EQ(CellText(table, 0, 0), QStringLiteral("1.2.3.4"));
  EXPECT_EQ(CellText(table, 0, 1), QStringLiteral("测试机房"));
  EXPECT_EQ(CellText(table, 0, 4), QStringLiteral("[01/dec/2026:10:01:37"));
  EXPECT_EQ(CellText(table, 0, 6), QStringLiteral("\"get ") + QString::fromLatin1(kAttack) +
                                       QStringLiteral(" http/1.1\""));
  EXPECT_EQ(CellText(table, 1, 0), QStringLiteral("5.6.7.8"));
  EXPECT_EQ(CellText(table, 1, 10), QStringLiteral("\"mozilla/5.0\""));
}

TEST_F(MainFormTest, DecliningTheTableOffersTheResultFileInAnEditor) {
  config_.run = ScriptedRun({kApacheHit});
  dialogs_.answers = {false, true};
  RunApache({Log("access.log", "")});
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[1].text, Q(config_.result_path) + QStringLiteral(" 是否打开查看吗？"));
  EXPECT_EQ(dialogs_.boxes[1].caption, QStringLiteral("询问"));
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_EQ(dialogs_.opened[0], QUrl::fromLocalFile(Q(config_.result_path)));
  EXPECT_FALSE(HitTable().isVisibleTo(&Form()));
  EXPECT_FALSE(Child<QPushButton>("ExcelButton")->isEnabled());
}

TEST_F(MainFormTest, ARunWithoutHitsAsksNothing) {
  RunApache({Log("access.log", ApacheLine("1.2.3.5", kBenign))});
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(CellText(FileList(), 0, 2), QStringLiteral("完成"));
  EXPECT_EQ(ReadFile(config_.result_path), std::string(ResultHeader(LogType::kApache)) + "\r\n");
}

TEST_F(MainFormTest, HitTableFillsShortRowsAndKeepsQuotedCells) {
  config_.run = ScriptedRun({"1.1.1.1 a b 'c d' e", "2.2.2.2 x \"y z"});
  dialogs_.answers = {true};
  RunApache({Log("access.log", "")});
  QTableWidget& table = HitTable();
  ASSERT_EQ(table.columnCount(), 5);
  ASSERT_EQ(table.rowCount(), 2);
  EXPECT_EQ(CellText(table, 0, 3), QStringLiteral("'c d'"));
  EXPECT_EQ(CellText(table, 1, 2), QStringLiteral("\"y z"));
  EXPECT_EQ(CellText(table, 1, 3), QString());
  EXPECT_EQ(CellText(table, 1, 4), QString());
}

TEST_F(MainFormTest, NineThousandNineHundredNinetyNineHitsStillGoToTheTable) {
  config_.run = ScriptedRun(std::vector<std::string>(kBulkExportHits - 1, kApacheHit));
  dialogs_.answers = {true};
  RunApache({Log("access.log", "")});
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_TRUE(HitTable().isVisibleTo(&Form()));
  EXPECT_EQ(HitTable().rowCount(), static_cast<int>(kBulkExportHits - 1));
}

TEST_F(MainFormTest, TenThousandHitsOfferTheWorkbookInsteadOfTheTable) {
  config_.run = ScriptedRun(std::vector<std::string>(kBulkExportHits, kApacheHit));
  dialogs_.answers = {true, true};
  RunApache({Log("access.log", "")});
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[1].text, QStringLiteral(" 数量过多，存入Excel中？"));
  EXPECT_EQ(dialogs_.boxes[1].caption, QStringLiteral("询问"));
  const fs::path workbook = config_.exe_dir / "1.xlsx";
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_EQ(dialogs_.opened[0], QUrl::fromLocalFile(Q(workbook)));
  EXPECT_GT(fs::file_size(workbook), 0u);
  EXPECT_FALSE(HitTable().isVisibleTo(&Form()));
  EXPECT_FALSE(Child<QPushButton>("ExcelButton")->isEnabled());
}

TEST_F(MainFormTest, TenThousandRealHitsGoStraightToTheWorkbook) {
  std::string text;
  for (int i = 0; i < static_cast<int>(kBulkExportHits); ++i) {
    text +=
        ApacheLine("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), kAttack);
  }
  dialogs_.answers = {true, true};
  RunApache({Log("many.log", text)});
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[1].text, QStringLiteral(" 数量过多，存入Excel中？"));
  EXPECT_EQ(
      Child<QLabel>("StatusPanel0")->text(),
      QString::fromStdString(StatusPanel1Text(kBulkExportHits, kBulkExportHits, kBulkExportHits)));
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_GT(fs::file_size(config_.exe_dir / "1.xlsx"), 0u);
}

TEST_F(MainFormTest, DecliningTheBulkExportDoesNothingMore) {
  config_.run = ScriptedRun(std::vector<std::string>(kBulkExportHits, kApacheHit));
  dialogs_.answers = {true, false};
  RunApache({Log("access.log", "")});
  EXPECT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_TRUE(dialogs_.opened.empty());
  EXPECT_FALSE(fs::exists(config_.exe_dir / "1.xlsx"));
}

TEST_F(MainFormTest, ExcelButtonExportsTheTableOrShowsBothBoxesInOrder) {
  config_.run = ScriptedRun({kApacheHit});
  dialogs_.answers = {true};
  RunApache({Log("access.log", "")});
  ASSERT_TRUE(Child<QPushButton>("ExcelButton")->isEnabled());
  Form().ExcelButtonClick();
  const fs::path workbook = config_.exe_dir / "1.xlsx";
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_EQ(dialogs_.opened[0], QUrl::fromLocalFile(Q(workbook)));
  EXPECT_TRUE(fs::exists(workbook));

  // Nothing on the desktop opens the workbook.
  dialogs_.open_succeeds = false;
  dialogs_.boxes.clear();
  Form().ExcelButtonClick();
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "error");
  EXPECT_EQ(dialogs_.boxes[0].text, QStringLiteral("请确认机子上是否装了excel"));
  EXPECT_EQ(dialogs_.boxes[0].caption, QStringLiteral("错误"));
  EXPECT_EQ(dialogs_.boxes[1].kind, "error");
  EXPECT_EQ(dialogs_.boxes[1].text, QStringLiteral("保存在 ") + Q(config_.result_path) +
                                        QStringLiteral("\n工作簿保存在 ") + Q(workbook));
  EXPECT_EQ(dialogs_.boxes[1].caption, QStringLiteral("位置"));

  // The workbook cannot be written: the writer's message instead of the workbook's path.
  config_.export_grid = [](const ResultTable&, const fs::path& xlsx, const XlsxExportOptions&) {
    throw ExportError("disk full (" + xlsx.string() + ")", xlsx);
  };
  form_.reset();
  dialogs_.answers = {true};
  RunApache({Log("access.log", "")});
  dialogs_.boxes.clear();
  dialogs_.open_succeeds = true;
  Form().ExcelButtonClick();
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[0].text, QStringLiteral("请确认机子上是否装了excel"));
  EXPECT_EQ(dialogs_.boxes[1].text, QStringLiteral("保存在 ") + Q(config_.result_path) +
                                        QStringLiteral("\ndisk full (") + Q(workbook) + ")");

  // New input hides the table but leaves the button on for the last run's hits.
  ChooseFiles({Log("other.log", "")});
  EXPECT_FALSE(HitTable().isVisibleTo(&Form()));
  EXPECT_TRUE(Child<QPushButton>("ExcelButton")->isEnabled());
}

TEST_F(MainFormTest, AnEngineErrorShowsItsMessageKeepsTheHitsAndFreesTheWindow) {
  // The real engine: an IIS line needs at least 11 fields; the second line has three.
  const std::string good =
      "2026-12-01 10:00:00 10.0.0.1 GET /index.html - 80 - 1.2.3.4 Mozilla/5.0 200 0 0 512 "
      "300 15\r\n";
  ChooseFiles({Log("u_ex.log", good + "2026-12-01 10:00:01 short\r\n")});
  Form().StartButtonClick();
  WaitForRunEnd();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "error");
  EXPECT_EQ(dialogs_.boxes[0].caption, QStringLiteral("错误"));
  EXPECT_TRUE(dialogs_.boxes[0].text.contains(QStringLiteral("u_ex.log")))
      << dialogs_.boxes[0].text.toStdString();
  EXPECT_TRUE(Child<QPushButton>("StartButton")->isEnabled());
  EXPECT_TRUE(Child<QCheckBox>("PicCheckBox")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("OpenButton")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>("ExcelButton")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, AStoppedRunKeepsItsHitsAndTheNextRunWorks) {
  std::string error = "文件 u_ex.log 第 2 行：字段不足";
  config_.run = ScriptedRun({kApacheHit}, &error);
  ChooseFiles({Log("u_ex.log", "")});
  Form().StartButtonClick();
  WaitForRunEnd();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].text, QStringLiteral("文件 u_ex.log 第 2 行：字段不足"));
  EXPECT_EQ(LoadResultFile(config_.result_path).rows.size(), 2u);  // header and the hit
  EXPECT_TRUE(CellText(FileList(), 0, 2).isEmpty());               // the file was not finished

  error.clear();
  dialogs_.boxes.clear();
  dialogs_.answers = {true};
  Form().StartButtonClick();
  WaitForRunEnd();
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "ask");
  EXPECT_TRUE(HitTable().isVisibleTo(&Form()));
  EXPECT_EQ(CellText(FileList(), 0, 2), QStringLiteral("完成"));
}

TEST_F(MainFormTest, ARunLocksItsControlsRefusesASecondStartAndDeletions) {
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  config_.run = GatedRun(release, runs);
  const fs::path a = Log("a.log", ""), b = Log("b.log", "");
  ChooseFiles({a, b});
  FileList().setCurrentCell(0, 0);
  Form().StartButtonClick();
  ASSERT_TRUE(Form().IsRunning());
  // Before the first line: no figures of an earlier run (here, the start-up texts).
  EXPECT_TRUE(Child<QLabel>("StatusPanel0")->text().isEmpty());
  EXPECT_TRUE(Child<QLabel>("StatusPanel1")->text().isEmpty());
  EXPECT_FALSE(Child<QPushButton>("StartButton")->isEnabled());
  EXPECT_FALSE(Child<QGroupBox>("WafRadioGroup")->isEnabled());
  EXPECT_FALSE(Child<QGroupBox>("WebTypeRadioGroup")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>("StatusCheckBox")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>("PicCheckBox")->isEnabled());
  Form().StartButtonClick();  // refused
  dialogs_.menu_choice = QStringLiteral("DelSelectedLine");
  emit FileList().customContextMenuRequested(QPoint(5, 5));
  Form().DelSelectedLineClick();
  EXPECT_EQ(FileList().rowCount(), 2);
  dialogs_.menu_choice = QStringLiteral("N1");
  Form().OpenButtonClick();
  Form().N2Click();
  EXPECT_EQ(dialogs_.popped_menus, std::vector<QString>{QStringLiteral("Del_PopupMenu")});
  EXPECT_EQ(FileList().rowCount(), 2);

  release = true;
  WaitForRunEnd();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(CellText(FileList(), 0, 2), QStringLiteral("完成"));
  EXPECT_EQ(CellText(FileList(), 1, 2), QStringLiteral("完成"));
  EXPECT_TRUE(Child<QPushButton>("StartButton")->isEnabled());
  for (const auto& box : dialogs_.boxes) ADD_FAILURE() << box.text.toStdString();

  // After the run the deletion acts.
  FileList().setCurrentCell(0, 0);
  Form().DelSelectedLineClick();
  ASSERT_EQ(FileList().rowCount(), 1);
  EXPECT_EQ(CellText(FileList(), 0, 1), Q(b));
  EXPECT_EQ(CellText(FileList(), 0, 0), QStringLiteral("1"));
  EXPECT_EQ(CellText(FileList(), 0, 2), QStringLiteral("完成"));
}

TEST_F(MainFormTest, DeletionRenumbersAndKeepsTheSelectionInPlace) {
  const fs::path a = Log("a.log", ""), b = Log("b.log", ""), c = Log("c.log", "");
  ChooseFiles({a, b, c});
  FileList().setCurrentCell(1, 1);
  dialogs_.menu_choice = QStringLiteral("DelSelectedLine");
  emit FileList().customContextMenuRequested(QPoint(5, 5));
  EXPECT_EQ(dialogs_.popped_menus, std::vector<QString>{QStringLiteral("Del_PopupMenu")});
  ASSERT_EQ(FileList().rowCount(), 2);
  EXPECT_EQ(CellText(FileList(), 0, 1), Q(a));
  EXPECT_EQ(CellText(FileList(), 1, 1), Q(c));
  EXPECT_EQ(CellText(FileList(), 0, 0), QStringLiteral("1"));
  EXPECT_EQ(CellText(FileList(), 1, 0), QStringLiteral("2"));
  EXPECT_EQ(FileList().currentRow(), 1);  // now on C

  Form().DelSelectedLineClick();  // the last row: the selection moves up
  ASSERT_EQ(FileList().rowCount(), 1);
  EXPECT_EQ(FileList().currentRow(), 0);
  Form().DelSelectedLineClick();  // the only row: the header stays alone
  EXPECT_EQ(FileList().rowCount(), 0);
  Form().DelSelectedLineClick();  // nothing left to delete
  EXPECT_EQ(FileList().rowCount(), 0);
}

TEST_F(MainFormTest, TheListFollowsTheRunFromTheNinthFile) {
  std::vector<fs::path> logs;
  for (int i = 1; i <= 10; ++i) logs.push_back(Log(std::to_string(i) + ".log", ""));
  ChooseFiles(logs);
  FileList().setCurrentCell(0, 0);
  Form().StartButtonClick();
  WaitForRunEnd();
  EXPECT_EQ(FileList().currentRow(), 9);
  for (int row = 0; row < 10; ++row) {
    EXPECT_EQ(CellText(FileList(), row, 2), QStringLiteral("完成"));
  }

  std::vector<fs::path> eight(logs.begin(), logs.begin() + 8);
  ChooseFiles(eight);
  FileList().setCurrentCell(0, 0);
  Form().StartButtonClick();
  WaitForRunEnd();
  EXPECT_EQ(FileList().currentRow(), 0);
}

TEST_F(MainFormTest, ClosingDuringARunStopsItWithACompleteResultFile) {
  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  config_.run = GatedRun(release, runs);
  ChooseFiles({Log("big.log", "")});
  Form().show();
  Form().StartButtonClick();
  ASSERT_TRUE(Form().IsRunning());
  Form().close();  // never released: only the stop request ends the run
  EXPECT_FALSE(Form().IsRunning());
  EXPECT_FALSE(Form().isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(ReadFile(config_.result_path),
            std::string(ResultHeader(LogType::kIis)) + "\r\n" + kApacheHit + "\r\n");
}

TEST_F(MainFormTest, ClosingDuringARealRunStopsTheEngine) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += ApacheLine("1.2.3.4", kBenign);
  ChooseFiles({Log("big.log", text)});
  SelectApache();
  Form().show();
  Form().StartButtonClick();
  Form().close();
  EXPECT_FALSE(Form().IsRunning());
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialogs_.boxes.empty());
  const std::string result = ReadFile(config_.result_path);
  EXPECT_EQ(result.substr(0, result.find("\r\n")), std::string(ResultHeader(LogType::kApache)));
  EXPECT_EQ(result.substr(result.size() - 2), "\r\n");  // no line cut in half
}

// Samples the middle of a cell's lower right quarter, where no text is drawn.
QColor CellColour(const QImage& image, const QRect& rect) {
  return image.pixelColor(rect.x() + rect.width() * 3 / 4, rect.y() + rect.height() * 3 / 4);
}

TEST_F(MainFormTest, FileListCellsArePaintedByTheColourRule) {
  const QPalette palette = Form().palette();
  const QColor light = palette.color(QPalette::Midlight);
  const QColor tooltip = palette.color(QPalette::ToolTipBase);
  const QColor white(Qt::white);
  ASSERT_NE(light, white);
  ASSERT_NE(tooltip, white);
  ASSERT_NE(light, tooltip);
  // Grid coordinates (column, row), row 0 being the header row.
  EXPECT_EQ(FileListCellBackground(0, 0, palette), light);
  EXPECT_EQ(FileListCellBackground(2, 0, palette), light);
  EXPECT_EQ(FileListCellBackground(0, 2, palette), light);
  EXPECT_EQ(FileListCellBackground(1, 2, palette), tooltip);
  EXPECT_EQ(FileListCellBackground(2, 4, palette), tooltip);
  EXPECT_EQ(FileListCellBackground(1, 1, palette), white);
  EXPECT_EQ(FileListCellBackground(2, 3, palette), white);

  // What the list really draws, selected row included.
  ChooseFiles({Log("a.log", ""), Log("b.log", ""), Log("c.log", "")});
  Form().resize(900, 500);
  Form().show();
  FileList().setCurrentCell(1, 1);
  QCoreApplication::processEvents();
  const QImage image = FileList().viewport()->grab().toImage();
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const QRect rect = FileList().visualRect(FileList().model()->index(row, column));
      EXPECT_EQ(CellColour(image, rect).rgb(),
                FileListCellBackground(column, row + 1, palette).rgb())
          << "column " << column << " row " << row + 1;
    }
  }
  // The current row, and only it, is framed on top of those colours.
  const QColor frame = FileListFrameColour(palette);
  ASSERT_NE(frame.rgb(), white.rgb());
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      const QRect rect = FileList().visualRect(FileList().model()->index(row, column));
      EXPECT_EQ(image.pixelColor(rect.center().x(), rect.top()).rgb() == frame.rgb(), row == 1)
          << "column " << column << " row " << row + 1;
    }
  }
  QHeaderView& header = *FileList().horizontalHeader();
  const QImage header_image = header.grab().toImage();
  const QColor header_colour =
      header_image.pixelColor(header.sectionViewportPosition(1) + 200, header.height() / 2);
  EXPECT_EQ(header_colour.rgb(), light.rgb());
}

TEST_F(MainFormTest, SideButtonsOpenTheChangelogTheUpdateWindowAndTheGuide) {
  WriteFile(config_.exe_dir / "help.html", "<html></html>");
  Form().HelpButtonClick();
  Form().UpdateButtonClick();
  EXPECT_EQ(dialogs_.modal_dialogs, (std::vector<QString>{QStringLiteral("ostrel::TAboutForm"),
                                                          QStringLiteral("ostrel::TUpdateForm")}));
  Form().ExplainButtonClick();
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_EQ(dialogs_.opened[0], QUrl::fromLocalFile(Q(config_.exe_dir / "help.html")));
  EXPECT_TRUE(dialogs_.boxes.empty());
}

// Sends a key press to `target` as the keyboard would deliver it.
void PressKey(QObject& target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent event(QEvent::KeyPress, key, modifiers);
  QCoreApplication::sendEvent(&target, &event);
}

TEST_F(MainFormTest, KeysActOnTheFramedRowAndButtonsHaveShortcuts) {
  ChooseFiles({Log("a.log", ""), Log("b.log", ""), Log("c.log", "")});
  EXPECT_EQ(FileList().currentRow(), 0);  // a new list starts framed at row 1
  FileList().setCurrentCell(1, 1);
  PressKey(FileList(), Qt::Key_Delete);
  ASSERT_EQ(FileList().rowCount(), 2);
  EXPECT_EQ(CellText(FileList(), 1, 1), Q(dir_ / "logs" / "c.log"));
  EXPECT_EQ(CellText(FileList(), 1, 0), QStringLiteral("2"));

  PressKey(FileList(), Qt::Key_Menu);
  PressKey(FileList(), Qt::Key_F10, Qt::ShiftModifier);
  PressKey(FileList(), Qt::Key_F10);  // F10 alone is not the menu
  // The menu key's own context-menu event, on platforms that send one, adds no second menu.
  QContextMenuEvent keyboard_menu(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                  FileList().mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendEvent(&FileList(), &keyboard_menu);
  EXPECT_EQ(dialogs_.popped_menus, (std::vector<QString>{QStringLiteral("Del_PopupMenu"),
                                                         QStringLiteral("Del_PopupMenu")}));

  const std::pair<const char*, QKeySequence> keys[] = {
      {"StartButton", QKeySequence(Qt::ALT | Qt::Key_S)},
      {"ExcelButton", QKeySequence(Qt::ALT | Qt::Key_E)},
      {"OpenButton", QKeySequence(Qt::ALT | Qt::Key_O)},
      {"ExplainButton", QKeySequence(Qt::ALT | Qt::Key_H)},
      {"UpdateButton", QKeySequence(Qt::ALT | Qt::Key_U)},
      {"HelpButton", QKeySequence(Qt::ALT | Qt::Key_L)}};
  for (const auto& [name, key] : keys) EXPECT_EQ(Child<QPushButton>(name)->shortcut(), key) << name;
  EXPECT_EQ(Child<QPushButton>("StartButton")->text(), QStringLiteral("开始"));
}

TEST_F(MainFormTest, DialogsStartInTheLastFolderChosenAndANewListShowsRowOne) {
  fs::create_directories(dir_ / "logs" / "sub");
  std::vector<fs::path> many;
  for (int i = 0; i < 60; ++i) many.push_back(Log("sub/" + std::to_string(i) + ".log", ""));
  ChooseFiles({Log("a.log", "")});
  EXPECT_EQ(dialogs_.file_dialog_dir, Q(config_.exe_dir));  // the first time
  dialogs_.folder = Q(dir_ / "logs" / "sub");
  Form().N2Click();
  EXPECT_EQ(dialogs_.folder_dialog_dir, Q(dir_ / "logs"));
  ASSERT_EQ(FileList().rowCount(), 60);
  ChooseFiles({many[3]});
  EXPECT_EQ(dialogs_.file_dialog_dir, Q(dir_ / "logs" / "sub"));

  Form().resize(900, 500);
  Form().show();
  ChooseFiles(many);
  FileList().scrollToBottom();
  FileList().setCurrentCell(59, 0);
  ChooseFiles(many);
  EXPECT_EQ(FileList().verticalScrollBar()->value(), 0);
  EXPECT_EQ(FileList().currentRow(), 0);
}

TEST_F(MainFormTest, ADropReplacesTheListWalksFoldersAndIsRefusedDuringARun) {
  fs::create_directories(dir_ / "logs" / "sub");
  const fs::path deep = Log("sub/deep.log", ""), a = Log("a.log", "");
  ChooseFiles({Log("old.log", "")});
  const auto drop = [this](const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Form(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Form(), &event);
    return event.isAccepted();
  };
  EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/access.log"))}));
  ASSERT_TRUE(drop({QUrl::fromLocalFile(Q(a)), QUrl::fromLocalFile(Q(dir_ / "logs" / "sub"))}));
  ASSERT_EQ(FileList().rowCount(), 2);
  EXPECT_EQ(CellText(FileList(), 0, 1), Q(a));
  EXPECT_EQ(CellText(FileList(), 1, 1), Q(deep));
  EXPECT_EQ(CellText(FileList(), 1, 0), QStringLiteral("2"));
  EXPECT_EQ(Child<QLineEdit>("ReadEdit")->text(), Q(a));
  dialogs_.files.clear();  // cancelled: only the start folder is looked at
  Form().N1Click();
  EXPECT_EQ(dialogs_.file_dialog_dir, Q(dir_ / "logs"));

  std::atomic<bool> release{false};
  std::atomic<int> runs{0};
  config_.run = GatedRun(release, runs);
  form_.reset();
  ChooseFiles({a});
  Form().StartButtonClick();
  EXPECT_FALSE(drop({QUrl::fromLocalFile(Q(deep))}));
  EXPECT_EQ(CellText(FileList(), 0, 1), Q(a));
  release = true;
  WaitForRunEnd();
}

TEST_F(MainFormTest, WhatTheDesktopCannotOpenIsNamedInABox) {
  const QString guide = Q(config_.exe_dir / "help.html");
  Form().ExplainButtonClick();  // help.html is missing here
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].kind, "warn");
  EXPECT_EQ(dialogs_.boxes[0].text, QStringLiteral("找不到文件：\n") + guide);
  EXPECT_EQ(dialogs_.boxes[0].caption, QStringLiteral("打开失败"));
  EXPECT_TRUE(dialogs_.opened.empty());

  WriteFile(config_.exe_dir / "help.html", "<html></html>");
  dialogs_.open_succeeds = false;
  Form().ExplainButtonClick();
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[1].text, QStringLiteral("系统中没有能打开此文件的程序：\n") + guide);

  // "是否打开查看吗？" answered yes, and nothing takes the result file.
  config_.run = ScriptedRun({kApacheHit});
  form_.reset();
  dialogs_.boxes.clear();
  dialogs_.answers = {false, true};
  RunApache({Log("access.log", "")});
  ASSERT_EQ(dialogs_.boxes.size(), 3u);
  EXPECT_EQ(dialogs_.boxes[2].text,
            QStringLiteral("系统中没有能打开此文件的程序：\n") + Q(config_.result_path));
}

// A grid writer that waits until the window's thread has run a timer (which it can only
// while the export is elsewhere), noting where it ran, then writes the real workbook.
TEST_F(MainFormTest, TheExportRunsOnAWorkerUnderAModalProgressDialog) {
  std::atomic<bool> window_ran{false};
  std::thread::id writer_thread;
  config_.export_grid = [&](const ResultTable& table, const fs::path& xlsx,
                            const XlsxExportOptions& options) {
    writer_thread = std::this_thread::get_id();
    for (int i = 0; i < 10000 && !window_ran; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ExportGridToXlsx(table, xlsx, options);
  };
  config_.run = ScriptedRun({kApacheHit, kApacheHit});
  dialogs_.answers = {true};
  RunApache({Log("access.log", "")});
  bool modal_progress = false;
  QTimer::singleShot(0, [&] {
    const auto* progress = Form().findChild<QDialog*>(QStringLiteral("ExportProgress"));
    modal_progress = progress != nullptr && progress->isVisible() && progress->isModal();
    window_ran = true;
  });
  Form().ExcelButtonClick();
  EXPECT_TRUE(window_ran);
  EXPECT_TRUE(modal_progress);
  EXPECT_NE(writer_thread, std::this_thread::get_id());
  EXPECT_EQ(Form().findChild<QDialog*>(QStringLiteral("ExportProgress")), nullptr);
  ASSERT_EQ(dialogs_.opened.size(), 1u);
  EXPECT_GT(fs::file_size(config_.exe_dir / "1.xlsx"), 0u);
  EXPECT_EQ(dialogs_.boxes.size(), 1u);  // the import question only
}

TEST_F(MainFormTest, CancellingTheBulkExportLeavesNoWorkbookAndAsksNothingMore) {
  // The real writer, started only once the cancel has been asked for.
  config_.export_file = [](const fs::path& result, ResultEncoding encoding, const fs::path& xlsx,
                           const XlsxExportOptions& options) {
    for (int i = 0; i < 10000 && !options.stop.stop_requested(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ExportResultFileToXlsx(result, encoding, xlsx, options);
  };
  config_.run = ScriptedRun(std::vector<std::string>(kBulkExportHits, kApacheHit));
  dialogs_.answers = {true, true};
  QTimer canceller;
  QObject::connect(&canceller, &QTimer::timeout, [this] {
    if (auto* progress = Form().findChild<QDialog*>(QStringLiteral("ExportProgress"))) {
      progress->findChild<QPushButton*>(QStringLiteral("CancelButton"))->click();
    }
  });
  canceller.start(5);
  RunApache({Log("access.log", "")});
  EXPECT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_TRUE(dialogs_.opened.empty());
  EXPECT_FALSE(fs::exists(config_.exe_dir / "1.xlsx"));
  for (const fs::directory_entry& entry : fs::directory_iterator(config_.exe_dir)) {
    EXPECT_NE(entry.path().extension(), ".xlsx") << entry.path();
    EXPECT_EQ(entry.path().string().find("1.xlsx"), std::string::npos) << entry.path();
  }
}

TEST_F(MainFormTest, HitTableKeepsItsFirstColumnShowsWholeCellsAndCopiesRows) {
  const QString long_cell = QStringLiteral("/index.php?id=1<b>") + QString(200, QLatin1Char('x'));
  config_.run = ScriptedRun({"1.1.1.1 a b", "2.2.2.2 c d", "3.3.3.3 e " + long_cell.toStdString()});
  dialogs_.answers = {true};
  RunApache({Log("access.log", "")});
  QTableWidget& table = HitTable();
  ASSERT_EQ(table.rowCount(), 3);
  Form().resize(700, 415);
  Form().show();
  QCoreApplication::processEvents();

  table.selectionModel()->select(
      QItemSelection(table.model()->index(1, 0), table.model()->index(2, 2)),
      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  PressKey(table, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QStringLiteral("2.2.2.2\tc\td\n3.3.3.3\te\t") + long_cell + QStringLiteral("\n"));

  const QModelIndex cut = table.model()->index(2, 2);
  emit table.doubleClicked(cut);
  EXPECT_EQ(dialogs_.modal_texts, std::vector<QString>{long_cell});

  const QRect cell = table.visualRect(cut);
  QHelpEvent tip(QEvent::ToolTip, cell.center(), table.viewport()->mapToGlobal(cell.center()));
  QCoreApplication::sendEvent(table.viewport(), &tip);
  EXPECT_TRUE(QToolTip::text().contains(long_cell.toHtmlEscaped()))
      << QToolTip::text().toStdString();
  QToolTip::hideText();

  // Scrolled to the far right, the first column still stands at the left edge.
  auto* fixed = Child<QTableView>("StringGrid1FixedColumn");
  ASSERT_NE(fixed, nullptr);
  table.setColumnWidth(2, 3000);
  QCoreApplication::processEvents();
  ASSERT_GT(table.horizontalScrollBar()->maximum(), 0);
  table.horizontalScrollBar()->setValue(table.horizontalScrollBar()->maximum());
  QCoreApplication::processEvents();
  EXPECT_LT(table.columnViewportPosition(0), 0);
  EXPECT_TRUE(fixed->isVisible());
  EXPECT_FALSE(fixed->isColumnHidden(0));
  EXPECT_TRUE(fixed->isColumnHidden(1));
  EXPECT_EQ(fixed->geometry().left(), table.frameWidth());
  EXPECT_EQ(fixed->width(), table.columnWidth(0));
  EXPECT_EQ(fixed->visualRect(table.model()->index(0, 0)).left(), 0);
  table.setColumnWidth(0, 120);
  EXPECT_EQ(fixed->width(), 120);
}

// The fourth log type reads what the fixed ones miss; a run of a fixed type over such a
// log says in the status bar what the lines are and which type reads them.
TEST_F(MainFormTest, TheAutoTypeIsTheFourthItemAndTheStatusBarSaysWhatARunMissed) {
  const QList<QRadioButton*> types =
      Child<QGroupBox>("WebTypeRadioGroup")->findChildren<QRadioButton*>();
  ASSERT_EQ(types.size(), 4);
  EXPECT_EQ(types[3]->text(), QStringLiteral("自动识别"));
  EXPECT_TRUE(types[0]->isChecked());
  const fs::path log = Log("vhost.log", "www.example.org:443 " + ApacheLine("1.2.3.4", kAttack));
  RunApache({log});
  EXPECT_TRUE(dialogs_.boxes.empty());  // no hit: nothing asked
  QLabel* notice = Child<QLabel>("RunNotice");
  EXPECT_TRUE(notice->isVisibleTo(&Form()));
  EXPECT_TRUE(notice->text().contains(QStringLiteral("自动识别"))) << notice->text().toStdString();
  EXPECT_TRUE(notice->text().contains(QStringLiteral("vhost.log")));

  types[3]->setChecked(true);
  dialogs_.answers = {false, false};
  ChooseFiles({log});
  Form().StartButtonClick();
  WaitForRunEnd();
  EXPECT_FALSE(notice->isVisibleTo(&Form()));
  ASSERT_EQ(dialogs_.boxes.size(), 2u);  // one hit: the table question, then the editor's
  const std::string result = ReadFile(config_.result_path);
  EXPECT_EQ(result.substr(0, result.find(' ')), "主机头");
}

// After a run with hits, "报告" writes the report beside the result file and hands it to
// the desktop; without hits it stays disabled.
TEST_F(MainFormTest, TheReportButtonWritesTheRunsReportAndOpensIt) {
  QPushButton* report = Child<QPushButton>("ReportButton");
  EXPECT_FALSE(report->isEnabled());
  dialogs_.answers = {false, false};
  RunApache({Log("access.log", ApacheLine("1.2.3.4", kAttack) + ApacheLine("1.2.3.5", kBenign))});
  ASSERT_TRUE(report->isEnabled());
  report->click();
  const fs::path html = config_.result_path.parent_path() / "1.html";
  const std::string page = ReadFile(html);
  EXPECT_NE(page.find("<svg"), std::string::npos);
  EXPECT_NE(page.find("1.2.3.4"), std::string::npos);
  EXPECT_EQ(page.find("1.2.3.5"), std::string::npos);  // no hit, not in the report

  RunApache({Log("clean.log", ApacheLine("1.2.3.5", kBenign))});
  EXPECT_FALSE(report->isEnabled());
}

TEST_F(MainFormTest, AWalkedFolderLeavesOutTheResultFile) {
  config_.result_path = dir_ / "logs" / "1.log";
  Log("a.log", ApacheLine("1.2.3.4", kAttack));
  Log("1.log", "an earlier result\r\n");
  dialogs_.folder = Q(dir_ / "logs");
  Form().N2Click();
  ASSERT_EQ(FileList().rowCount(), 1);
  EXPECT_EQ(CellText(FileList(), 0, 1), Q(dir_ / "logs" / "a.log"));
}

TEST(HitTableTest, CopiedCellsKeepTheirColumns) {
  QTableWidget table(2, 3);
  const char* cells[2][3] = {{"a", "b\tc", ""}, {"line\none", "x\r\ny", "z"}};
  for (int row = 0; row < 2; ++row) {
    for (int column = 0; column < 3; ++column) {
      if (*cells[row][column] != '\0') {
        table.setItem(row, column, new QTableWidgetItem(QString::fromUtf8(cells[row][column])));
      }
    }
  }
  EXPECT_EQ(RowsAsTabSeparatedText(table, {1, 0}), QStringLiteral("line one\tx  y\tz\na\tb c\t\n"));
}

TEST(AboutFormTest, HoldsTheFixedChangelog) {
  const QStringList lines = AboutText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 39);
  EXPECT_EQ(lines[1], QString(52, QLatin1Char('=')));
  EXPECT_EQ(lines[2], QStringLiteral("升级日志："));
  EXPECT_EQ(lines[3], QStringLiteral("2.6、2018-10-04，加入 行删除；"));
  EXPECT_EQ(lines[4], QString());
  EXPECT_EQ(lines[20], QString(30, QLatin1Char(' ')) +
                           QStringLiteral("对单个大日志的处理，目前最大单个日志议论300M。"));
  EXPECT_EQ(lines[27],
            QString(30, QLatin1Char(' ')) + QStringLiteral("修正处理apache时一处错误。"));
  EXPECT_EQ(lines[32], QStringLiteral(" "));
  EXPECT_EQ(lines[33], QStringLiteral("1.0、2017-2-15，完成基本功能。"));
  EXPECT_EQ(lines[34], QString(55, QLatin1Char('=')));
  EXPECT_EQ(lines[35], QStringLiteral("功能说明："));
  EXPECT_EQ(lines[36], QString());
  EXPECT_EQ(lines[37], QStringLiteral("程序专为 发现 可疑攻击行为 而设计。"));
  EXPECT_EQ(lines[38], QString(53, QLatin1Char('=')));
  TAboutForm form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("日志文档"));
  EXPECT_EQ(form.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText(), AboutText());
}

}  // namespace
}  // namespace ostrel
