#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "export/excel_export.h"

class QWidget;

namespace ostrel {

// How a workbook export with its progress dialog ended.
enum class ExportEnd { kWritten, kCancelled, kFailed };

struct ExportOutcome {
  ExportEnd end = ExportEnd::kFailed;
  std::string error;  // kFailed: the writer's message, naming the file
};

// Runs `write` on a worker thread, with options whose stop token and progress hook belong
// to a modal dialog owned by `owner` (caption "生成Excel", object name "ExportProgress"):
// it shows the rows written so far, of `total_rows` when that is known (0: not known), and
// a "取消" button (object name "CancelButton") that asks `write` to stop. The window keeps
// processing its events, so it repaints, while the dialog keeps input from it. Returns
// once `write` has returned or thrown: kWritten; kCancelled when it threw after a cancel;
// kFailed with the exception's message otherwise. `write` must not touch widgets.
ExportOutcome RunExportWithProgress(QWidget* owner, std::uint64_t total_rows,
                                    const std::function<void(const XlsxExportOptions&)>& write);

}  // namespace ostrel
