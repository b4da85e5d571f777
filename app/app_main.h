#pragma once

#include "app/main_form.h"

class QApplication;

namespace ostrel {

class Dialogs;

// Creates the main window and serves it until it is closed; gives the exit status. When
// QQWry.dat is missing the warning is shown and 1 comes back without the window ever being
// shown or the event loop run.
int RunOstrel(QApplication& app, Dialogs& dialogs, MainFormConfig config);

}  // namespace ostrel
