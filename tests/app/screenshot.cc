// Makes the README's screenshot: runs the window over the given logs and photographs it
// with its first end-of-run question open, as a user sees it: the file list with the
// finished files, the current row framed, and the Chinese question box over it. Both
// questions are then answered No, and the program ends.
// Usage: ostrel_screenshot OUT.png LOG_TYPE(0-2) LOG...   (QQWry.dat beside this program)
// The README's picture, from the source folder:
//   xvfb-run -a -s "-screen 0 1400x900x24" build/bin/ostrel_screenshot docs/screenshot.png 2
//   examples/nginx/access.log examples/tomcat/localhost_access_log.2026-12-01.txt
//   (one command line; the Tomcat example is in the common log format too)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QTranslator>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "app/qt_translations.h"
#include "engine/executable_dir.h"

namespace {

void Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Picks the files given on the command line; photographs the first question box with the
// window under it into `out`, then answers No to every question.
class ScriptedDialogs : public ostrel::Dialogs {
 public:
  ScriptedDialogs(QStringList files, QString out)
      : files_(std::move(files)), out_(std::move(out)) {}

  bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override {
    if (saved_ || owner == nullptr) return false;
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    ostrel::LabelButtonsInChinese(box);
    box.show();
    Settle(300);
    QWidget* window = owner->window();
    // Below the first rows, so the framed row and its neighbour stay in sight.
    const QRect frame = window->geometry();
    box.move(frame.center().x() - box.width() / 2, frame.top() + frame.height() * 11 / 20);
    Settle(300);
    const QRect area = window->frameGeometry().united(box.frameGeometry());
    saved_ = QGuiApplication::primaryScreen()
                 ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                 .save(out_, "PNG");
    return false;
  }
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

  bool saved() const { return saved_; }

 private:
  QStringList files_;
  QString out_;
  bool saved_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT.png LOG_TYPE LOG...\n", argv[0]);
    return 2;
  }
  QTranslator qt_translation;
  ostrel::InstallQtTranslation(qt_translation, ostrel::QtTranslationFolders());
  QStringList files;
  for (int i = 3; i < argc; ++i) {
    files << QString::fromStdString(std::filesystem::absolute(argv[i]).string());
  }
  ScriptedDialogs dialogs(files, QString::fromLocal8Bit(argv[1]));
  ostrel::MainFormConfig config;
  config.exe_dir = ostrel::ExecutableDir();
  config.result_path = std::filesystem::temp_directory_path() / "ostrel_screenshot_1.log";
  std::unique_ptr<ostrel::TMainForm> form = ostrel::TMainForm::Create(config, dialogs);
  if (form == nullptr) return 1;
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
  while (form->IsRunning() && timer.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::error_code ignored;
  std::filesystem::remove(config.result_path, ignored);
  if (!dialogs.saved()) {
    std::fprintf(stderr, "no question was asked, so no picture was taken\n");
    return 1;
  }
  return 0;
}
