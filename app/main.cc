// ostrel: the desktop window over the log analysis engine.
#include <QApplication>
#include <QCommandLineParser>

#include "app/app_main.h"
#include "app/dialogs.h"
#include "engine/executable_dir.h"
#include "engine/run.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ostrel");

  // The update server is built in; --update-server points the update window elsewhere
  // (a test server, a mirror).
  QCommandLineParser parser;
  parser.addHelpOption();
  const QCommandLineOption update_server(
      "update-server", "Address of the update manifest (default: the built-in server).", "URL",
      QString::fromUtf8(OSTREL_UPDATE_SERVER));
  parser.addOption(update_server);
  parser.process(app);

  ostrel::QtDialogs dialogs;
  ostrel::MainFormConfig config;
  config.exe_dir = ostrel::ExecutableDir();
  config.result_path = ostrel::DefaultResultFilePath();
  config.update_manifest_url = parser.value(update_server).toStdString();
  return ostrel::RunOstrel(app, dialogs, std::move(config));
}
