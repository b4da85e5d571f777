#include "app/dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace ostrel {

bool QtDialogs::AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  return box.exec() == QMessageBox::Yes;
}

void QtDialogs::Warn(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

void QtDialogs::Error(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

QStringList QtDialogs::PickFiles(QWidget* owner, const QString& start_dir, const QString& filter) {
  QFileDialog dialog(owner, QString(), start_dir, filter);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString QtDialogs::PickFolder(QWidget* owner, const QString& prompt) {
  return QFileDialog::getExistingDirectory(owner, prompt, QString(), QFileDialog::ShowDirsOnly);
}

void QtDialogs::PopUp(QMenu& menu, const QPoint& pos) { menu.exec(pos); }

void QtDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

bool QtDialogs::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace ostrel
