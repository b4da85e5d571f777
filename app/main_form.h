#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <QMainWindow>
#include <QString>
#include <QTimer>

#include "app/workbook.h"
#include "engine/file_locations.h"
#include "engine/options.h"
#include "engine/result_table.h"
#include "engine/run.h"
#include "ipdb/qqwry.h"

class QButtonGroup;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;

namespace ostrel {

class Dialogs;
class ReportCollector;
class HitTableExtras;
class ProgressSink;

// The analysis a run performs; RunAnalysisToOutputs unless a test puts a scripted one in its
// place. The outputs are the result file and the report's collector.
using RunFunction = std::function<RunSummary(
    const std::vector<std::filesystem::path>& inputs, const RunOutputs& outputs,
    const RunOptions& options, const TQQWry& ipdb, RunSink& sink, std::stop_token stop)>;

// Where the window keeps and finds its files, and what a run does.
struct MainFormConfig {
  std::filesystem::path exe_dir;  // the file dialogs start here, until a first choice
  // Where QQWry.dat, help.html and the update files are; empty: all in exe_dir.
  std::optional<FileLocations> locations;
  std::filesystem::path result_path;  // the result file (1.log) every run rewrites
  std::string update_manifest_url;    // handed to the update window
  ResultEncoding encoding = ResultEncoding::kUtf8;
  RunFunction run = RunAnalysisToOutputs;
  GridExportFunction export_grid = ExportGridToXlsx;        // "生成Excel"
  FileExportFunction export_file = ExportResultFileToXlsx;  // the bulk export after a run
};

// From this many hits on, the run offers the workbook export instead of the hit table.
inline constexpr std::uint64_t kBulkExportHits = 10000;

// The main window: run options, input selection, the file list with each file's progress,
// the hit table, the three-panel status bar and the buttons of the side windows. The run
// and the workbook exports work on worker threads; the window shows a run's progress at
// most 20 times a second, an export's in a modal dialog, and asks its questions through
// the Dialogs seam. Files and folders dropped on the window replace the file list as a
// choice does; the file and folder dialogs start in the folder last chosen (for the
// program's life only). Controls carry the object names tests and style sheets find them
// by (StartButton, ReadEdit, StringGrid1, ...). Keys: Alt+S 开始, Alt+E 生成Excel, Alt+O
// "...", Alt+H 使用说明, Alt+U 升级, Alt+L 日志; on the file list Delete takes out the
// current row and the menu key or Shift+F10 opens its menu.
//
// Grid coordinates: the file list's header row is the table's header view, so table row k
// is file-list row k + 1; the same holds for the hit table and the result file's lines.
class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and opens the first QQWry.dat of config.locations (or in
  // config.exe_dir). Without one shows the warning "在当前目录下没有IP地址库QQWry.dat！"
  // (followed by the folders searched, when installed) and gives nullptr: the window must
  // not be served. `dialogs` must outlive the window.
  static std::unique_ptr<TMainForm> Create(MainFormConfig config, Dialogs& dialogs);

  // Builds the widgets only; Create is the way to get a working window.
  TMainForm(MainFormConfig config, Dialogs& dialogs, QWidget* parent = nullptr);
  // Stops a run in progress at its next line and waits for it.
  ~TMainForm() override;

  // The run flag: true from the start of a run until the window has taken its end.
  bool IsRunning() const { return running_; }

 public slots:
  // Starts a run over the file list, unless one is in progress or nothing was chosen.
  void StartButtonClick();
  // Pops up the "文件"/"文件夹" menu at the pointer; does nothing during a run.
  void OpenButtonClick();
  // Chooses log files with the multi-select file dialog.
  void N1Click();
  // Chooses a folder and lists every file under it, breadth first.
  void N2Click();
  // "单行删除" and the Delete key: takes the current (framed) row out of the file list; only
  // when no run is in progress.
  void DelSelectedLineClick();
  // "生成Excel": writes the hit table to a workbook on a worker thread and opens it.
  void ExcelButtonClick();
  // "报告": writes the last run's HTML report (1.html beside the result file) and hands it
  // to the desktop's browser; a box names the file when it cannot be written or opened.
  void ReportButtonClick();
  // "升级": the update window, modally.
  void UpdateButtonClick();
  // "日志": the changelog window, modally.
  void HelpButtonClick();
  // "使用说明": hands help.html (beside the executable, or in the installed documents) to
  // the desktop; when it is missing or nothing opens it, a box says so and names its path.
  void ExplainButtonClick();

 protected:
  // Closing during a run stops the run at its next line; the result file is flushed and
  // closed before the window goes.
  void closeEvent(QCloseEvent* event) override;
  // Local files and folders are accepted between runs.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // The file list's keys.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct RunOutcome {
    RunSummary summary;
    bool failed = false;
    std::string error;  // the engine's message, naming file and line
  };

  void BuildWidgets();
  bool OpenIpDatabase();
  void CentreOnScreen();
  void SetUpShortcuts();
  // Puts one row per path into the file list and the first path into ReadEdit, shows row
  // 1 framed at the top.
  void FillFileList(const std::vector<std::filesystem::path>& paths);
  // Replaces the file list by `paths`, as a confirmed choice does.
  void TakeChoice(const std::vector<std::filesystem::path>& paths);
  // Empties every data cell of the file list; header and row count stay.
  void ClearFileList();
  void ShowFileList();
  void SetRunControlsEnabled(bool enabled);
  RunOptions CurrentOptions() const;
  std::filesystem::path RowPath(int table_row) const;

  void OnFileStarted(std::size_t index);
  void OnFileFinished(std::size_t index);
  void OnRunFinished(const RunOutcome& outcome);
  void UpdateProgressText();
  void SetBusyCursor(bool busy);
  void StopRunAndWait();
  void AskAboutHits(std::uint64_t hit_count);
  // Shows `text` (what the run may have missed) in the status bar, `details` as its
  // tooltip; an empty text hides it.
  void ShowRunNotice(const QString& text, const QString& details);
  // The files of `folder` (walked with its subfolders) without the result file.
  std::vector<std::filesystem::path> WalkWithoutOwnFiles(const std::filesystem::path& folder) const;
  void ShowHitTable();
  void ShowFileListMenu(const QPoint& pos);
  // The menu key and Shift+F10: the menu under the current row.
  void ShowFileListMenuFromKeyboard();

  Dialogs& dialogs_;
  MainFormConfig config_;
  std::unique_ptr<TQQWry> qqwry_ip_;  // QQWryIp: the IP database for the window's life
  bool running_ = false;
  bool closing_ = false;
  bool busy_cursor_ = false;
  // Where the file and folder dialogs start: the folder of the latest choice.
  std::filesystem::path dialog_start_dir_;

  // Widgets, owned by their Qt parents.
  QLineEdit* read_edit_ = nullptr;
  QPushButton* open_button_ = nullptr;
  QPushButton* start_button_ = nullptr;
  QPushButton* excel_button_ = nullptr;
  QPushButton* report_button_ = nullptr;
  QPushButton* explain_button_ = nullptr;
  QPushButton* update_button_ = nullptr;
  QPushButton* help_button_ = nullptr;
  QCheckBox* pic_check_box_ = nullptr;
  QCheckBox* status_check_box_ = nullptr;
  QGroupBox* waf_radio_group_ = nullptr;
  QGroupBox* web_type_radio_group_ = nullptr;
  QButtonGroup* waf_buttons_ = nullptr;
  QButtonGroup* web_type_buttons_ = nullptr;
  QTableWidget* string_grid1_ = nullptr;  // hit table
  QTableWidget* string_grid2_ = nullptr;  // file list
  QLabel* status_panels_[3] = {nullptr, nullptr, nullptr};
  QLabel* run_notice_ = nullptr;
  RunOptions run_options_;  // of the run in progress, or the last one
  QMenu* open_popup_menu_ = nullptr;
  QMenu* del_popup_menu_ = nullptr;
  HitTableExtras* hit_table_extras_ = nullptr;

  // The run in progress.
  std::vector<std::filesystem::path> run_inputs_;
  std::vector<int> run_rows_;  // file-list table row of each input
  std::unique_ptr<ProgressSink> sink_;
  // The last run's hits in the report's terms, and what the run did.
  std::unique_ptr<ReportCollector> report_;
  RunSummary report_summary_;
  std::string report_error_;
  std::string report_started_at_;
  QTimer progress_timer_;
  std::uint64_t shown_sequence_ = 0;
  // Last member: destroyed first, so the worker never outlives what it uses.
  std::jthread worker_;
};

}  // namespace ostrel
