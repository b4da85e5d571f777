#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>

class QDialog;
class QFileDialog;
class QMenu;
class QMessageBox;
class QWidget;

namespace ostrel {

// Every modal thing the window shows and every hand-over to the desktop goes through this
// seam, so tests can answer questions and pick files without a user.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A modal question box owned by `owner` with Yes and No and the question icon; gives
  // true for Yes.
  virtual bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) = 0;
  // A modal box with the warning icon and an OK button.
  virtual void Warn(QWidget* owner, const QString& text, const QString& caption) = 0;
  // A modal box with the error icon and an OK button.
  virtual void Error(QWidget* owner, const QString& text, const QString& caption) = 0;
  // The multi-select file-open dialog starting in `start_dir`, showing `filter`
  // ("description (patterns)"); gives the chosen paths in the dialog's order, none when
  // cancelled.
  virtual QStringList PickFiles(QWidget* owner, const QString& start_dir,
                                const QString& filter) = 0;
  // The folder dialog with `prompt`, starting in `start_dir`; gives the chosen folder,
  // empty when cancelled.
  virtual QString PickFolder(QWidget* owner, const QString& prompt, const QString& start_dir) = 0;
  // Pops `menu` up at the screen position `pos` and runs the chosen item's action.
  virtual void PopUp(QMenu& menu, const QPoint& pos) = 0;
  // Shows `dialog` modally and returns when it is closed.
  virtual void ShowModal(QDialog& dialog) = 0;
  // Hands `url` to the desktop (the default application for a file); gives whether the
  // desktop accepted it.
  virtual bool OpenUrl(const QUrl& url) = 0;
};

// The real boxes and dialogs of Qt and the desktop.
class QtDialogs : public Dialogs {
 public:
  bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override;
  void Warn(QWidget* owner, const QString& text, const QString& caption) override;
  void Error(QWidget* owner, const QString& text, const QString& caption) override;
  QStringList PickFiles(QWidget* owner, const QString& start_dir, const QString& filter) override;
  QString PickFolder(QWidget* owner, const QString& prompt, const QString& start_dir) override;
  void PopUp(QMenu& menu, const QPoint& pos) override;
  void ShowModal(QDialog& dialog) override;
  bool OpenUrl(const QUrl& url) override;
};

// Gives a box's standard buttons their Chinese texts ("是(&Y)", "否(&N)", "确定"), so they
// match the window also when Qt's own translation is not installed.
void LabelButtonsInChinese(QMessageBox& box);

// Gives a file or folder dialog the title `title` ("打开" or "选择文件夹" when empty) and
// Chinese labels and buttons, for the same reason. Call after its file mode is set.
void LabelFileDialogInChinese(QFileDialog& dialog, const QString& title = QString());

}  // namespace ostrel
