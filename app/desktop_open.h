#pragma once

#include <filesystem>

class QWidget;

namespace ostrel {

class Dialogs;

// Hands the file at `path` to the desktop's default application (a text editor for the
// result file, a browser for help.html). When the file is missing or nothing on the
// desktop takes it, says so in a warning box owned by `owner` that names the file's full
// path, and gives false: the user is never left with a click that did nothing.
bool OpenWithDesktop(QWidget* owner, Dialogs& dialogs, const std::filesystem::path& path);

}  // namespace ostrel
