#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "update/http_transfer.h"
#include "update/updater.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTableWidget;

namespace ostrel {

// The update window "升级窗口": checks the manifest (检测), downloads the listed files
// (下载) and closes (关闭). Transfers run on a worker thread; their progress and row
// outcomes reach the window through queued signals, so the window never freezes. Closing
// the window during a transfer cancels it: the transfer stops within about a second, the
// file being fetched keeps its old contents, and no message box follows. tmp.ini is deleted
// when the window is destroyed. The list's cells keep to one line and its columns to its
// width (the last one takes what is left); a cell's tooltip gives its whole text, and a
// failed row's status cell the reason it failed.
//
// Controls carry their names as object names ("ListView1", "ProgressBar1", "ScanButton",
// "DownFileButton", "CloseButton", "StatusBar1") so tests can find them.
class TUpdateForm : public QDialog {
  Q_OBJECT

 public:
  // Shows a modal message box owned by `owner` with `icon`, `caption` and `text` and an OK
  // button. Tests replace it to answer boxes without a user.
  using MessageBoxFunction = std::function<void(QWidget* owner, QMessageBox::Icon icon,
                                                const QString& caption, const QString& text)>;

  // `manifest_url`: address of update.ini; `exe_dir`: the folder that holds update.ini,
  // tmp.ini and receives the downloaded files.
  TUpdateForm(std::string manifest_url, std::filesystem::path exe_dir, QWidget* parent = nullptr);
  // Cancels a running transfer, waits for the worker and deletes tmp.ini.
  ~TUpdateForm() override;

  // Replaces the message boxes (default: QMessageBox).
  void SetMessageBox(MessageBoxFunction message_box);
  // Replaces the transfer limits (tests use short time-outs). Takes effect at the next
  // click.
  void SetTransferOptions(const TransferOptions& options);
  // True while a check or a download run is in progress.
  bool IsBusy() const { return busy_; }

 signals:
  // Emitted on the worker thread; connected to the window through queued connections.
  void TransferStarted();
  void TransferProgressed(qint64 total, qint64 now);
  void TransferEnded();
  // `reason`: why a failed row failed, as the updater reports it; empty otherwise.
  void RowStatusChanged(int row, const QString& status, const QString& reason);
  // Emitted on the window's thread when a check or a download run has been handled.
  void CheckDone();
  void DownloadDone();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  class WorkerObserver;

  void ScanButtonClick();
  void DownFileButtonClick();
  void CloseButtonClick();
  void IdHTTP1WorkBegin();
  void IdHTTP1Work(qint64 total, qint64 now);
  void IdHTTP1WorkEnd();
  void SetRowStatus(int row, const QString& status, const QString& reason);
  void FinishCheck(const CheckResult& result);
  void FinishDownload(const DownloadRunResult& result);
  // Starts `job` on the worker thread, after the previous job's thread has ended.
  void StartWorker(std::function<void()> job);
  void CancelWorker();
  void ShowMessage(QMessageBox::Icon icon, const QString& caption, const QString& text);

  std::string manifest_url_;
  std::filesystem::path exe_dir_;
  TransferOptions transfer_options_;
  MessageBoxFunction message_box_;
  std::vector<UpdateEntry> entries_;  // the listed rows, in list order
  bool busy_ = false;
  std::atomic<bool> cancel_{false};
  std::unique_ptr<WorkerObserver> observer_;
  std::thread worker_;

  QTableWidget* list_view_ = nullptr;
  QLabel* label_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QPushButton* scan_button_ = nullptr;
  QPushButton* down_file_button_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QStatusBar* status_bar_ = nullptr;
};

}  // namespace ostrel
