#include "app/workbook.h"

#include <exception>
#include <functional>

#include <QApplication>
#include <QString>
#include <QUrl>

#include "app/dialogs.h"
#include "app/path_text.h"
#include "export/excel_export.h"
#include "export/export_messages.h"

namespace ostrel {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowExportFailure(const std::filesystem::path& result_path, Dialogs& dialogs) {
  // Both boxes are unowned, like the spreadsheet application's own messages.
  dialogs.Error(nullptr, FromUtf8(kExportFailedText), FromUtf8(kExportFailedCaption));
  dialogs.Error(nullptr, FromUtf8(ResultLocationText(result_path.string())),
                FromUtf8(kResultLocationCaption));
}

// Runs `write` under the busy cursor, then opens the workbook.
bool WriteAndOpen(const std::filesystem::path& result_path, Dialogs& dialogs,
                  const std::function<void(const std::filesystem::path&)>& write) {
  const std::filesystem::path xlsx = WorkbookPathFor(result_path);
  bool written = false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    write(xlsx);
    written = true;
  } catch (const std::exception&) {
    // ExportError and lack of memory alike: the boxes below tell where the hits are.
  }
  QApplication::restoreOverrideCursor();
  if (written && dialogs.OpenUrl(QUrl::fromLocalFile(PathToQString(xlsx)))) {
    return true;
  }
  ShowExportFailure(result_path, dialogs);
  return false;
}

}  // namespace

bool ExportHitTableAndOpen(const ResultTable& table, const std::filesystem::path& result_path,
                           Dialogs& dialogs) {
  return WriteAndOpen(result_path, dialogs, [&table](const std::filesystem::path& xlsx) {
    ExportGridToXlsx(table, xlsx);
  });
}

bool ExportResultFileAndOpen(const std::filesystem::path& result_path, ResultEncoding encoding,
                             Dialogs& dialogs) {
  return WriteAndOpen(result_path, dialogs, [&](const std::filesystem::path& xlsx) {
    ExportResultFileToXlsx(result_path, encoding, xlsx);
  });
}

}  // namespace ostrel
