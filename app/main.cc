// ostrel: the desktop window over the log analysis engine.
#include <cstdio>
#include <string>

#include <QApplication>
#include <QCommandLineParser>

#include "app/app_main.h"
#include "app/dialogs.h"
#include "engine/file_locations.h"

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
