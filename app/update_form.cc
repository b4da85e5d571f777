#include "app/update_form.h"

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <algorithm>
#include <climits>
#include <utility>

namespace ostrel {
namespace {

// Status line texts.
const char kStatusChecking[] = "检测升级文件...";
const char kStatusCheckFailed[] = "检测升级文件失败!";
const char kStatusAnalysing[] = "分析升级文件...";
const char kStatusDownloading[] = "正在下载升级文件...";
const char kStatusReady[] = "就绪...";

enum Column { kNameColumn = 0, kSizeColumn, kVersionColumn, kUrlColumn, kStatusColumn };

int ClampToInt(qint64 value) { return static_cast<int>(std::clamp<qint64>(value, 0, INT_MAX)); }

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), text.size()); }

}  // namespace

// Runs on the worker thread: turns the updater's reports into the window's signals and
// answers its progress calls with the cancellation flag.
class TUpdateForm::WorkerObserver final : public UpdateObserver {
 public:
  WorkerObserver(TUpdateForm& form, const std::atomic<bool>& cancel)
      : form_(form), cancel_(cancel) {}

  void TransferBegin() override {
    last_total_ = -1;
    last_now_ = -1;
    emit form_.TransferStarted();
  }
  bool TransferProgress(std::int64_t total, std::int64_t now) override {
    // libcurl calls back often with unchanged numbers; only changes are worth a repaint.
    if (total != last_total_ || now != last_now_) {
      last_total_ = total;
      last_now_ = now;
      emit form_.TransferProgressed(total, now);
    }
    return !cancel_.load();
  }
  void TransferEnd() override { emit form_.TransferEnded(); }
  void RowStarted(std::size_t row) override {
    emit form_.RowStatusChanged(static_cast<int>(row), QString::fromUtf8(kRowDownloading),
                                QString());
  }
  void RowFinished(std::size_t row, bool ok, const std::string& reason) override {
    emit form_.RowStatusChanged(static_cast<int>(row),
                                QString::fromUtf8(ok ? kRowDone : kRowFailed),
                                ok ? QString() : FromUtf8(reason));
  }

 private:
  TUpdateForm& form_;
  const std::atomic<bool>& cancel_;
  std::int64_t last_total_ = -1;
  std::int64_t last_now_ = -1;
};

TUpdateForm::TUpdateForm(std::string manifest_url, std::filesystem::path exe_dir, QWidget* parent)
    : QDialog(parent),
      manifest_url_(std::move(manifest_url)),
      exe_dir_(std::move(exe_dir)),
      observer_(std::make_unique<WorkerObserver>(*this, cancel_)) {
  setObjectName("UpdateForm");
  setWindowTitle(QString::fromUtf8("升级窗口"));
  setFixedSize(492, 228);
  QFont form_font("Tahoma");
  form_font.setPixelSize(11);
  setFont(form_font);

  list_view_ = new QTableWidget(0, 5, this);
  list_view_->setObjectName("ListView1");
  list_view_->setGeometry(16, 8, 465, 122);
  list_view_->setShowGrid(true);
  list_view_->verticalHeader()->hide();
  list_view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_view_->setSelectionMode(QAbstractItemView::SingleSelection);
  // One line per row, cut with an ellipsis; the tooltip has the rest.
  list_view_->setWordWrap(false);
  list_view_->setTextElideMode(Qt::ElideRight);
  // 状态 takes the width the others leave, so it never lies under the scroll bar.
  list_view_->horizontalHeader()->setStretchLastSection(true);
  const char* captions[] = {"文件名", "大小", "代号", "地     址", "状态"};
  const int widths[] = {88, 50, 72, 190, 50};
  for (int column = 0; column <= kStatusColumn; ++column) {
    auto* header = new QTableWidgetItem(QString::fromUtf8(captions[column]));
    header->setTextAlignment(column == kNameColumn ? (Qt::AlignLeft | Qt::AlignVCenter)
                                                   : Qt::AlignCenter);
    list_view_->setHorizontalHeaderItem(column, header);
    list_view_->setColumnWidth(column, widths[column]);
  }

  label_ = new QLabel(QString::fromUtf8("当前进度："), this);
  label_->setObjectName("Label1");
  label_->setGeometry(16, 144, 66, 17);

  progress_bar_ = new QProgressBar(this);
  progress_bar_->setObjectName("ProgressBar1");
  progress_bar_->setGeometry(82, 145, 385, 17);
  progress_bar_->setRange(0, 100);
  progress_bar_->setValue(0);
  progress_bar_->setTextVisible(false);

  scan_button_ = new QPushButton(QString::fromUtf8("检测"), this);
  scan_button_->setObjectName("ScanButton");
  scan_button_->setGeometry(82, 178, 75, 25);

  down_file_button_ = new QPushButton(QString::fromUtf8("下载"), this);
  down_file_button_->setObjectName("DownFileButton");
  down_file_button_->setGeometry(224, 178, 75, 25);

  close_button_ = new QPushButton(QString::fromUtf8("关闭"), this);
  close_button_->setObjectName("CloseButton");
  close_button_->setGeometry(392, 176, 75, 25);

  status_bar_ = new QStatusBar(this);
  status_bar_->setObjectName("StatusBar1");
  status_bar_->setGeometry(0, 209, 492, 19);
  status_bar_->setSizeGripEnabled(false);

  // Return must not press a button by accident.
  scan_button_->setAutoDefault(false);
  down_file_button_->setAutoDefault(false);
  close_button_->setAutoDefault(false);

  connect(scan_button_, &QPushButton::clicked, this, &TUpdateForm::ScanButtonClick);
  connect(down_file_button_, &QPushButton::clicked, this, &TUpdateForm::DownFileButtonClick);
  connect(close_button_, &QPushButton::clicked, this, &TUpdateForm::CloseButtonClick);
  // The worker emits these; queued connections run the slots on the window's thread.
  connect(this, &TUpdateForm::TransferStarted, this, &TUpdateForm::IdHTTP1WorkBegin,
          Qt::QueuedConnection);
  connect(this, &TUpdateForm::TransferProgressed, this, &TUpdateForm::IdHTTP1Work,
          Qt::QueuedConnection);
  connect(this, &TUpdateForm::TransferEnded, this, &TUpdateForm::IdHTTP1WorkEnd,
          Qt::QueuedConnection);
  connect(this, &TUpdateForm::RowStatusChanged, this, &TUpdateForm::SetRowStatus,
          Qt::QueuedConnection);

  message_box_ = [](QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                    const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
  };
}

TUpdateForm::~TUpdateForm() {
  CancelWorker();
  RemoveManifestCopy(exe_dir_);
}

void TUpdateForm::SetMessageBox(MessageBoxFunction message_box) {
  message_box_ = std::move(message_box);
}

void TUpdateForm::SetTransferOptions(const TransferOptions& options) {
  transfer_options_ = options;
}

void TUpdateForm::ShowMessage(QMessageBox::Icon icon, const QString& caption, const QString& text) {
  if (message_box_) message_box_(this, icon, caption, text);
}

void TUpdateForm::StartWorker(std::function<void()> job) {
  if (worker_.joinable()) worker_.join();
  cancel_ = false;
  worker_ = std::thread(std::move(job));
}

void TUpdateForm::CancelWorker() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void TUpdateForm::ScanButtonClick() {
  // 下载 stays clickable during a check, as it always has; a second transfer at the same
  // time is refused rather than run beside the first.
  if (busy_) return;
  busy_ = true;
  status_bar_->showMessage(QString::fromUtf8(kStatusChecking));
  scan_button_->setEnabled(false);
  const UpdateSettings settings{manifest_url_, exe_dir_};
  const TransferOptions options = transfer_options_;
  StartWorker([this, settings, options] {
    HttpClient client(options);
    auto result = std::make_shared<CheckResult>(CheckForUpdates(client, settings, *observer_));
    QMetaObject::invokeMethod(
        this, [this, result] { FinishCheck(*result); }, Qt::QueuedConnection);
  });
}

void TUpdateForm::FinishCheck(const CheckResult& result) {
  busy_ = false;
  if (!result.ok() || cancel_) {
    status_bar_->showMessage(QString::fromUtf8(kStatusCheckFailed));
    scan_button_->setEnabled(true);
    emit CheckDone();
    return;
  }
  status_bar_->showMessage(QString::fromUtf8(kStatusAnalysing));
  list_view_->setRowCount(0);
  entries_ = result.entries;
  for (const UpdateEntry& entry : entries_) {
    const int row = list_view_->rowCount();
    list_view_->insertRow(row);
    const std::string* texts[] = {&entry.name, &entry.size, &entry.version_text, &entry.url};
    for (int column = kNameColumn; column <= kUrlColumn; ++column) {
      auto* item = new QTableWidgetItem(FromUtf8(*texts[column]));
      item->setToolTip(item->text());
      item->setTextAlignment(column == kNameColumn ? (Qt::AlignLeft | Qt::AlignVCenter)
                                                   : Qt::AlignCenter);
      list_view_->setItem(row, column, item);
    }
    auto* status = new QTableWidgetItem(QString::fromUtf8(kRowNotDownloaded));
    status->setTextAlignment(Qt::AlignCenter);
    list_view_->setItem(row, kStatusColumn, status);
  }
  if (entries_.empty()) {
    ShowMessage(QMessageBox::NoIcon, QString::fromUtf8("信息"), QString::fromUtf8("已是最新版！"));
  } else {
    down_file_button_->setEnabled(true);
  }
  status_bar_->showMessage(QString::fromUtf8(kStatusReady));
  scan_button_->setEnabled(true);
  emit CheckDone();
}

void TUpdateForm::DownFileButtonClick() {
  if (busy_) return;
  busy_ = true;
  status_bar_->showMessage(QString::fromUtf8(kStatusDownloading));
  scan_button_->setEnabled(false);
  down_file_button_->setEnabled(false);
  const UpdateSettings settings{manifest_url_, exe_dir_};
  const TransferOptions options = transfer_options_;
  StartWorker([this, settings, options, entries = entries_] {
    HttpClient client(options);
    auto result =
        std::make_shared<DownloadRunResult>(DownloadUpdates(client, settings, entries, *observer_));
    QMetaObject::invokeMethod(
        this, [this, result] { FinishDownload(*result); }, Qt::QueuedConnection);
  });
}

void TUpdateForm::FinishDownload(const DownloadRunResult& result) {
  busy_ = false;
  if (cancel_) {
    // The window was closed during the run: no box for a window that is gone.
  } else if (result.stopped_row) {
    // The record could not be written: say so, and leave the window usable rather than
    // with both buttons dead until it is closed.
    ShowMessage(QMessageBox::Critical, QString::fromUtf8("错误"), FromUtf8(result.record_error));
  } else {
    ShowMessage(QMessageBox::NoIcon, QString::fromUtf8("信息"),
                QString::fromUtf8("下载升级文件完成"));
  }
  status_bar_->showMessage(QString::fromUtf8(kStatusReady));
  scan_button_->setEnabled(true);
  down_file_button_->setEnabled(true);
  emit DownloadDone();
}

void TUpdateForm::SetRowStatus(int row, const QString& status, const QString& reason) {
  if (QTableWidgetItem* item = list_view_->item(row, kStatusColumn)) {
    item->setText(status);
    item->setToolTip(reason);
  }
}

void TUpdateForm::CloseButtonClick() { close(); }

void TUpdateForm::IdHTTP1WorkBegin() {
  progress_bar_->setMaximum(0);
  progress_bar_->setValue(0);
}

void TUpdateForm::IdHTTP1Work(qint64 total, qint64 now) {
  if (progress_bar_->maximum() != ClampToInt(total)) progress_bar_->setMaximum(ClampToInt(total));
  progress_bar_->setValue(ClampToInt(now));
}

void TUpdateForm::IdHTTP1WorkEnd() {
  // A zero maximum makes Qt animate a busy bar; at rest the bar is empty instead.
  if (progress_bar_->maximum() == 0) progress_bar_->setMaximum(100);
  progress_bar_->setValue(0);
}

void TUpdateForm::closeEvent(QCloseEvent* event) {
  // Stop the transfer; the worker is joined when the window is destroyed, and a completion
  // that arrives after this shows nothing.
  if (busy_) cancel_ = true;
  QDialog::closeEvent(event);
}

void TUpdateForm::reject() {
  if (busy_) cancel_ = true;
  QDialog::reject();
}

}  // namespace ostrel
