#include "app/app_main.h"

#include <utility>

#include <QApplication>

#include "app/dialogs.h"

namespace ostrel {

int RunOstrel(QApplication& app, Dialogs& dialogs, MainFormConfig config) {
  std::unique_ptr<TMainForm> form = TMainForm::Create(std::move(config), dialogs);
  if (form == nullptr) return 1;
  form->show();
  return app.exec();
}

}  // namespace ostrel
