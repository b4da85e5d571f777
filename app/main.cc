// ostrel: the desktop window over the log analysis engine.
#include <QApplication>

#include "app/app_main.h"
#include "app/dialogs.h"
#include "engine/executable_dir.h"
#include "engine/run.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ostrel::QtDialogs dialogs;
  ostrel::MainFormConfig config;
  config.exe_dir = ostrel::ExecutableDir();
  config.result_path = ostrel::DefaultResultFilePath();
  config.update_manifest_url = OSTREL_UPDATE_SERVER;
  return ostrel::RunOstrel(app, dialogs, std::move(config));
}
