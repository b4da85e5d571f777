// How the update window shows its rows: one line each, columns within the list, the
// reason of a failed row in its tooltip.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>

#include "app/update_form.h"
#include "tests/app/qt_print.h"
#include "tests/update/test_server.h"

namespace ostrel {
namespace {

TEST(UpdateFormLookTest, RowsKeepToOneLineAndAFailedRowSaysWhy) {
  testing::LocalHttpServer server;
  const std::string long_name = std::string(60, 'n') + ".dat";
  std::string manifest = "[bad]\nName=../x\nSize=1KB\nVer=1\nURL=" + server.Url("/x") + "\n";
  server.server().Get("/update.ini", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(manifest, "text/plain");
  });
  server.server().Get("/long", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("data", "application/octet-stream");
  });
  ASSERT_TRUE(server.Start());
  manifest += "[long]\nName=" + long_name + "\nSize=1KB\nVer=1\nURL=" + server.Url("/long") + "?" +
              std::string(200, 'q') + "\n";
  testing::TempFolder folder;
  TUpdateForm form(server.Url("/update.ini"), folder.path());
  form.SetMessageBox([](QWidget*, QMessageBox::Icon, const QString&, const QString&) {});
  form.show();
  const auto wait = [&form] {
    for (int round = 0; round < 2000 && form.IsBusy(); ++round) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      QThread::msleep(5);
    }
    QCoreApplication::processEvents();
  };
  auto& list = *form.findChild<QTableWidget*>(QStringLiteral("ListView1"));
  form.findChild<QPushButton*>(QStringLiteral("ScanButton"))->click();
  wait();
  ASSERT_EQ(list.rowCount(), 2);
  EXPECT_FALSE(list.wordWrap());
  int widths = 0;
  for (int column = 0; column < list.columnCount(); ++column) widths += list.columnWidth(column);
  EXPECT_LE(widths, list.viewport()->width());
  EXPECT_EQ(list.item(1, 0)->toolTip(), QString::fromStdString(long_name));

  form.findChild<QPushButton*>(QStringLiteral("DownFileButton"))->click();
  wait();
  EXPECT_EQ(list.item(0, 4)->text(), QStringLiteral("失败"));
  EXPECT_TRUE(list.item(0, 4)->toolTip().contains(QStringLiteral("../x")))
      << list.item(0, 4)->toolTip().toStdString();
  EXPECT_EQ(list.item(1, 4)->text(), QStringLiteral("完成"));
  EXPECT_TRUE(list.item(1, 4)->toolTip().isEmpty());
}

}  // namespace
}  // namespace ostrel
