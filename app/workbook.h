#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

#include "engine/options.h"
#include "engine/result_table.h"
#include "export/excel_export.h"

class QWidget;

namespace ostrel {

class Dialogs;

// The workbook writers the window calls; the export library's unless a test puts its own
// in their place.
using GridExportFunction = std::function<void(
    const ResultTable& table, const std::filesystem::path& xlsx, const XlsxExportOptions&)>;
using FileExportFunction =
    std::function<std::uint64_t(const std::filesystem::path& result_file, ResultEncoding encoding,
                                const std::filesystem::path& xlsx, const XlsxExportOptions&)>;

// Grid mode of "生成Excel": writes `table` to the workbook beside `result_path`
// (WorkbookPathFor) on a worker thread under a modal progress dialog owned by `owner`,
// then hands it to the desktop's default application. When the workbook cannot be
// written, shows the two error boxes "请确认机子上是否装了excel" and "保存在 " + result path,
// the second followed by the writer's message; when it was written but nothing opens it,
// the second is followed by the workbook's path instead. Gives false then, and also when
// the user cancelled, which leaves no workbook and shows nothing more.
bool ExportHitTableAndOpen(QWidget* owner, const ResultTable& table,
                           const std::filesystem::path& result_path, Dialogs& dialogs,
                           const GridExportFunction& write = ExportGridToXlsx);

// Bulk mode: streams the result file itself, `line_count` lines when known (0: not
// known), to the workbook beside it, then opens it the same way, with the same boxes.
bool ExportResultFileAndOpen(QWidget* owner, const std::filesystem::path& result_path,
                             ResultEncoding encoding, std::uint64_t line_count, Dialogs& dialogs,
                             const FileExportFunction& write = ExportResultFileToXlsx);

}  // namespace ostrel
