// What the window program answers before its window exists, and the Chinese texts of
// Qt's own dialogs.
#include <gtest/gtest.h>

#include <optional>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTranslator>

#include "app/command_line.h"
#include "app/dialogs.h"
#include "app/qt_translations.h"
#include "tests/app/qt_print.h"

namespace ostrel {
namespace {

struct EarlyCase {
  const char* name;
  QStringList arguments;  // after the program name
  std::optional<QString> answer_contains;
};

class EarlyAnswerTest : public ::testing::TestWithParam<EarlyCase> {};

TEST_P(EarlyAnswerTest, AnswersHelpAndVersionOnly) {
  const std::optional<QString> answer = EarlyAnswerText(
      QStringList{QStringLiteral("ostrel")} + GetParam().arguments, QStringLiteral("2.6"));
  ASSERT_EQ(answer.has_value(), GetParam().answer_contains.has_value());
  if (answer) {
    EXPECT_TRUE(answer->contains(*GetParam().answer_contains)) << answer->toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, EarlyAnswerTest,
    ::testing::Values(
        EarlyCase{"LongHelp", {QStringLiteral("--help")}, QStringLiteral("--update-server <URL>")},
        EarlyCase{"ShortHelp", {QStringLiteral("-h")}, QStringLiteral("--version")},
        EarlyCase{"LongVersion", {QStringLiteral("--version")}, QStringLiteral("ostrel 2.6\n")},
        EarlyCase{"ShortVersion", {QStringLiteral("-v")}, QStringLiteral("ostrel 2.6\n")},
        // Qt's own options and the window's are for the window: no early answer.
        EarlyCase{"NoOptions", {}, std::nullopt},
        EarlyCase{
            "QtsOwnOptions",
            {QStringLiteral("-reverse"), QStringLiteral("-platform"), QStringLiteral("offscreen")},
            std::nullopt},
        EarlyCase{"UpdateServer",
                  {QStringLiteral("--update-server"), QStringLiteral("http://127.0.0.1/u.ini")},
                  std::nullopt}),
    [](const ::testing::TestParamInfo<EarlyCase>& info) { return info.param.name; });

TEST(QtTranslationTest, LoadsQtsChineseOrChangesNothing) {
  QTranslator missing;
  EXPECT_FALSE(InstallQtTranslation(missing, {QStringLiteral("/nonexistent/ostrel")}));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));

  // scripts/bootstrap installs Debian's qt6-translations-l10n.
  QTranslator translator;
  ASSERT_TRUE(InstallQtTranslation(translator, QtTranslationFolders()));
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
  QCoreApplication::removeTranslator(&translator);
}

TEST(QtTranslationTest, OurBoxesAndFileDialogsAreChineseWithoutIt) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("询问"), QStringLiteral("?"),
                  QMessageBox::Yes | QMessageBox::No);
  LabelButtonsInChinese(box);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
  EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));

  QFileDialog files;
  files.setFileMode(QFileDialog::ExistingFiles);
  LabelFileDialogInChinese(files);
  EXPECT_EQ(files.windowTitle(), QStringLiteral("打开"));
  EXPECT_EQ(files.labelText(QFileDialog::Accept), QStringLiteral("打开(&O)"));
  EXPECT_EQ(files.labelText(QFileDialog::Reject), QStringLiteral("取消"));
  QFileDialog folder;
  folder.setFileMode(QFileDialog::Directory);
  LabelFileDialogInChinese(folder, QStringLiteral("请选择文件夹(遍历文件夹下文件)"));
  EXPECT_EQ(folder.windowTitle(), QStringLiteral("请选择文件夹(遍历文件夹下文件)"));
  EXPECT_EQ(folder.labelText(QFileDialog::Accept), QStringLiteral("选择(&S)"));
}

}  // namespace
}  // namespace ostrel
