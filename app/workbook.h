#pragma once

#include <filesystem>

#include "engine/options.h"
#include "engine/result_table.h"

namespace ostrel {

class Dialogs;

// Grid mode of "生成Excel": writes `table` to the workbook beside `result_path`
// (WorkbookPathFor) and hands it to the desktop's default application. When the workbook
// cannot be written or nothing opens it, shows the two error boxes ("请确认机子上是否装了excel",
// then "保存在 " + result path) and gives false. Never claims success it did not have.
bool ExportHitTableAndOpen(const ResultTable& table, const std::filesystem::path& result_path,
                           Dialogs& dialogs);

// Bulk mode: streams the result file itself to the workbook beside it, then opens it the
// same way, with the same failure boxes.
bool ExportResultFileAndOpen(const std::filesystem::path& result_path, ResultEncoding encoding,
                             Dialogs& dialogs);

}  // namespace ostrel
