// ostrel: the desktop window over the log analysis engine.
#include <cstdio>
#include <optional>
#include <string>

#include <QApplication>
#include <QCommandLineParser>
#include <QTranslator>

#include "app/app_main.h"
#include "app/command_line.h"
#include "app/dialogs.h"
#include "app/qt_translations.h"
#include "engine/file_locations.h"

int main(int argc, char** argv) {
  // --help and --version need no display, so they are answered before Qt's window
  // system starts.
  if (const std::optional<int> status =
          ostrel::AnswerWithoutWindow(argc, argv, QStringLiteral(OSTREL_VERSION))) {
    return *status;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("ostrel");
  QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
  // Without it the window's own boxes and dialogs still label their buttons in Chinese.
  QTranslator qt_translation;
  ostrel::InstallQtTranslation(qt_translation, ostrel::QtTranslationFolders());

  QCommandLineParser parser;
  const QCommandLineOption update_server =
      ostrel::AddWindowOptions(parser, QString::fromUtf8(OSTREL_UPDATE_SERVER));
  parser.process(app);

  ostrel::QtDialogs dialogs;
  ostrel::MainFormConfig config;
  const ostrel::FileLocations locations = ostrel::FileLocations::ForThisProcess();
  // A folder that cannot be made shows up as the run's error on the result file.
  std::string data_dir_error;
  if (!locations.CreateDataDir(&data_dir_error))
    std::fprintf(stderr, "ostrel: %s\n", data_dir_error.c_str());
  config.exe_dir = locations.exe_dir();
  config.locations = locations;
  config.result_path = locations.ResultFile();
  config.update_manifest_url = parser.value(update_server).toStdString();
  return ostrel::RunOstrel(app, dialogs, std::move(config));
}
