#include "app/workbook.h"

#include <QString>
#include <QUrl>

#include "app/dialogs.h"
#include "app/export_progress.h"
#include "app/path_text.h"
#include "export/export_messages.h"

namespace ostrel {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The two boxes; `detail` goes on a line of its own after the result file's location.
void ShowExportFailure(const std::filesystem::path& result_path, const QString& detail,
                       Dialogs& dialogs) {
  // Both boxes are unowned, like the spreadsheet application's own messages.
  dialogs.Error(nullptr, FromUtf8(kExportFailedText), FromUtf8(kExportFailedCaption));
  dialogs.Error(nullptr,
                FromUtf8(ResultLocationText(result_path.string())) + QLatin1Char('\n') + detail,
                FromUtf8(kResultLocationCaption));
}

bool WriteAndOpen(
    QWidget* owner, const std::filesystem::path& result_path, std::uint64_t total_rows,
    Dialogs& dialogs,
    const std::function<void(const std::filesystem::path&, const XlsxExportOptions&)>& write) {
  const std::filesystem::path xlsx = WorkbookPathFor(result_path);
  const ExportOutcome outcome = RunExportWithProgress(
      owner, total_rows, [&](const XlsxExportOptions& options) { write(xlsx, options); });
  switch (outcome.end) {
    case ExportEnd::kCancelled:
      return false;
    case ExportEnd::kFailed:
      ShowExportFailure(result_path, QString::fromStdString(outcome.error), dialogs);
      return false;
    case ExportEnd::kWritten:
      break;
  }
  const QString xlsx_text = PathToQString(xlsx);
  if (dialogs.OpenUrl(QUrl::fromLocalFile(xlsx_text))) return true;
  ShowExportFailure(result_path, QStringLiteral("工作簿保存在 ") + xlsx_text, dialogs);
  return false;
}

}  // namespace

bool ExportHitTableAndOpen(QWidget* owner, const ResultTable& table,
                           const std::filesystem::path& result_path, Dialogs& dialogs,
                           const GridExportFunction& write) {
  return WriteAndOpen(owner, result_path, table.rows.size(), dialogs,
                      [&](const std::filesystem::path& xlsx, const XlsxExportOptions& options) {
                        write(table, xlsx, options);
                      });
}

bool ExportResultFileAndOpen(QWidget* owner, const std::filesystem::path& result_path,
                             ResultEncoding encoding, std::uint64_t line_count, Dialogs& dialogs,
                             const FileExportFunction& write) {
  return WriteAndOpen(owner, result_path, line_count, dialogs,
                      [&](const std::filesystem::path& xlsx, const XlsxExportOptions& options) {
                        write(result_path, encoding, xlsx, options);
                      });
}

}  // namespace ostrel
