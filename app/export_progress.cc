#include "app/export_progress.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <stop_token>
#include <thread>

#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace ostrel {
namespace {

constexpr int kRefreshMs = 100;

// Escape and the title bar's close button ask to cancel, like "取消"; the dialog itself
// closes only when the writer has ended.
class ProgressDialog : public QDialog {
 public:
  ProgressDialog(QWidget* owner, std::function<void()> on_cancel)
      : QDialog(owner), on_cancel_(std::move(on_cancel)) {}
  void reject() override { on_cancel_(); }

 private:
  std::function<void()> on_cancel_;
};

int ClampToInt(std::uint64_t value) {
  return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX));
}

}  // namespace

ExportOutcome RunExportWithProgress(QWidget* owner, std::uint64_t total_rows,
                                    const std::function<void(const XlsxExportOptions&)>& write) {
  ExportOutcome outcome;  // written by the worker, read after it has ended
  std::atomic<std::uint64_t> rows_written{0};
  bool ended = false;
  bool cancelled = false;
  QEventLoop loop;
  QLabel* label = nullptr;
  QPushButton* cancel = nullptr;
  std::jthread* worker_ptr = nullptr;

  ProgressDialog dialog(owner, [&] {
    if (cancelled || worker_ptr == nullptr) return;
    cancelled = true;
    worker_ptr->request_stop();
    cancel->setEnabled(false);
    label->setText(QStringLiteral("正在取消…"));
  });
  dialog.setObjectName(QStringLiteral("ExportProgress"));
  dialog.setWindowTitle(QStringLiteral("生成Excel"));
  dialog.setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(&dialog);
  label = new QLabel(&dialog);
  label->setObjectName(QStringLiteral("ExportProgressText"));
  label->setMinimumWidth(260);
  auto* bar = new QProgressBar(&dialog);
  bar->setRange(0, ClampToInt(total_rows));  // 0 to 0: a busy bar while the total is unknown
  bar->setTextVisible(false);
  cancel = new QPushButton(QStringLiteral("取消"), &dialog);
  cancel->setObjectName(QStringLiteral("CancelButton"));
  layout->addWidget(label);
  layout->addWidget(bar);
  layout->addWidget(cancel, 0, Qt::AlignRight);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &ProgressDialog::reject);

  const auto show_rows = [&] {
    if (cancelled) return;
    const std::uint64_t rows = rows_written.load();
    label->setText(total_rows > 0 ? QStringLiteral("已写入 %1 / %2 行").arg(rows).arg(total_rows)
                                  : QStringLiteral("已写入 %1 行").arg(rows));
    if (total_rows > 0) bar->setValue(ClampToInt(std::min(rows, total_rows)));
  };
  show_rows();
  QTimer refresh;
  refresh.setInterval(kRefreshMs);
  QObject::connect(&refresh, &QTimer::timeout, &dialog, show_rows);

  // Last: destroyed first, so the worker has ended before what it uses goes. A call it
  // posts after the dialog is gone is dropped by Qt.
  std::jthread worker([&](std::stop_token stop) {
    XlsxExportOptions options;
    options.stop = stop;
    options.progress = [&rows_written](std::uint64_t rows) { rows_written = rows; };
    try {
      write(options);
      outcome.end = ExportEnd::kWritten;
    } catch (const std::exception& error) {
      outcome.end = stop.stop_requested() ? ExportEnd::kCancelled : ExportEnd::kFailed;
      outcome.error = error.what();
    }
    QMetaObject::invokeMethod(
        &dialog,
        [&] {
          ended = true;
          loop.quit();
        },
        Qt::QueuedConnection);
  });
  worker_ptr = &worker;

  dialog.show();
  refresh.start();
  while (!ended) {
    // Not 0: the application is quitting under the dialog; stop the writer and wait.
    if (loop.exec() != 0) break;
  }
  refresh.stop();
  worker.request_stop();
  worker.join();
  return outcome;
}

}  // namespace ostrel
