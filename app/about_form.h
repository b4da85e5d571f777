#pragma once

#include <QDialog>
#include <QString>

namespace ostrel {

// The changelog window: one read-only text box with the program's fixed changelog.
class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // Builds the window (caption "日志文档") and centres it on the primary screen.
  explicit TAboutForm(QWidget* parent = nullptr);
};

// The fixed changelog text, lines joined by "\n".
QString AboutText();

}  // namespace ostrel
