// Makes the README's screenshot: runs the window over the given logs, answers Yes to
// showing the hits, and saves the finished window as a PNG.
// Usage: ostrel_screenshot OUT.png LOG_TYPE(0-2) LOG...   (QQWry.dat beside this program)
// The README's picture, from the source folder:
//   xvfb-run -a -s "-screen 0 1400x900x24" build/bin/ostrel_screenshot docs/screenshot.png 2
//   examples/nginx/access.log   (one command line)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QMenu>
#include <QPixmap>
#include <QRadioButton>
#include <QTableWidget>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "engine/executable_dir.h"

namespace {

// Says Yes to every question and picks the files given on the command line.
class ScriptedDialogs : public ostrel::Dialogs {
 public:
  explicit ScriptedDialogs(QStringList files) : files_(std::move(files)) {}
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
  void Warn(QWidget*, const QString& text, const QString&) override {
    std::fprintf(stderr, "warning: %s\n", text.toUtf8().constData());
  }
  void Error(QWidget*, const QString& text, const QString&) override {
    std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
  }
  QStringList PickFiles(QWidget*, const QString&, const QString&) override { return files_; }
  QString PickFolder(QWidget*, const QString&, const QString&) override { return {}; }
  void PopUp(QMenu&, const QPoint&) override {}
  void ShowModal(QDialog&) override {}
  bool OpenUrl(const QUrl&) override { return true; }

 private:
  QStringList files_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT.png LOG_TYPE LOG...\n", argv[0]);
    return 2;
  }
  QStringList files;
  for (int i = 3; i < argc; ++i) {
    files << QString::fromStdString(std::filesystem::absolute(argv[i]).string());
  }
  ScriptedDialogs dialogs(files);
  ostrel::MainFormConfig config;
  config.exe_dir = ostrel::ExecutableDir();
  config.result_path = std::filesystem::temp_directory_path() / "ostrel_screenshot_1.log";
  std::unique_ptr<ostrel::TMainForm> form = ostrel::TMainForm::Create(config, dialogs);
  if (form == nullptr) return 1;
  form->resize(1280, 560);
  form->show();
  const int log_type = std::atoi(argv[2]);
  form->findChild<QGroupBox*>(QStringLiteral("WebTypeRadioGroup"))
      ->findChildren<QRadioButton*>()
      .at(log_type)
      ->setChecked(true);
  form->N1Click();
  form->StartButtonClick();
  QElapsedTimer timer;
  timer.start();
  while ((form->IsRunning() || timer.elapsed() < 1500) && timer.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Widen the hit table's columns to their text, as a user would by dragging.
  if (auto* table = form->findChild<QTableWidget*>(QStringLiteral("StringGrid1"))) {
    table->resizeColumnsToContents();
  }
  if (!form->grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) return 1;
  return 0;
}
