#include "app/dialogs.h"

#include <utility>

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace ostrel {
namespace {

bool ShowBox(QMessageBox::Icon icon, QWidget* owner, const QString& text, const QString& caption,
             QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, owner);
  LabelButtonsInChinese(box);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace

void LabelButtonsInChinese(QMessageBox& box) {
  const std::pair<QMessageBox::StandardButton, const char*> texts[] = {
      {QMessageBox::Yes, "是(&Y)"}, {QMessageBox::No, "否(&N)"}, {QMessageBox::Ok, "确定"}};
  for (const auto& [which, text] : texts) {
    if (QAbstractButton* button = box.button(which)) button->setText(QString::fromUtf8(text));
  }
}

void LabelFileDialogInChinese(QFileDialog& dialog, const QString& title) {
  const bool folders = dialog.fileMode() == QFileDialog::Directory;
  if (!title.isEmpty()) {
    dialog.setWindowTitle(title);
  } else {
    dialog.setWindowTitle(folders ? QStringLiteral("选择文件夹") : QStringLiteral("打开"));
  }
  dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("查找范围："));
  dialog.setLabelText(QFileDialog::FileName,
                      folders ? QStringLiteral("文件夹：") : QStringLiteral("文件名："));
  dialog.setLabelText(QFileDialog::FileType, QStringLiteral("文件类型："));
  dialog.setLabelText(QFileDialog::Accept,
                      folders ? QStringLiteral("选择(&S)") : QStringLiteral("打开(&O)"));
  dialog.setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
}

bool QtDialogs::AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
  return ShowBox(QMessageBox::Question, owner, text, caption, QMessageBox::Yes | QMessageBox::No);
}

void QtDialogs::Warn(QWidget* owner, const QString& text, const QString& caption) {
  ShowBox(QMessageBox::Warning, owner, text, caption, QMessageBox::Ok);
}

void QtDialogs::Error(QWidget* owner, const QString& text, const QString& caption) {
  ShowBox(QMessageBox::Critical, owner, text, caption, QMessageBox::Ok);
}

QStringList QtDialogs::PickFiles(QWidget* owner, const QString& start_dir, const QString& filter) {
  QFileDialog dialog(owner, QString(), start_dir, filter);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  LabelFileDialogInChinese(dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString QtDialogs::PickFolder(QWidget* owner, const QString& prompt, const QString& start_dir) {
  QFileDialog dialog(owner, prompt, start_dir);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  LabelFileDialogInChinese(dialog, prompt);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void QtDialogs::PopUp(QMenu& menu, const QPoint& pos) { menu.exec(pos); }

void QtDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

bool QtDialogs::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace ostrel
