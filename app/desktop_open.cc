#include "app/desktop_open.h"

#include <system_error>

#include <QString>
#include <QUrl>

#include "app/dialogs.h"
#include "app/path_text.h"

namespace ostrel {

bool OpenWithDesktop(QWidget* owner, Dialogs& dialogs, const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  if (error) full = path;
  const QString shown = PathToQString(full);
  const QString caption = QStringLiteral("打开失败");
  if (!std::filesystem::is_regular_file(full, error)) {
    dialogs.Warn(owner, QStringLiteral("找不到文件：\n") + shown, caption);
    return false;
  }
  if (!dialogs.OpenUrl(QUrl::fromLocalFile(shown))) {
    dialogs.Warn(owner, QStringLiteral("系统中没有能打开此文件的程序：\n") + shown, caption);
    return false;
  }
  return true;
}

}  // namespace ostrel
