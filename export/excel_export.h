#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "engine/options.h"
#include "engine/result_table.h"

namespace ostrel {

// The most rows one worksheet holds.
inline constexpr std::uint32_t kSheetRowLimit = 1048576;

// An export failed: the result file could not be read or the workbook could not be
// written. what() is a complete message that names the file concerned, which file()
// gives. The destination keeps whatever it held before (an older workbook is never
// half-replaced).
class ExportError : public std::runtime_error {
 public:
  ExportError(const std::string& message, std::filesystem::path file)
      : std::runtime_error(message), file_(std::move(file)) {}
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
};

// How the workbook is laid out and driven. The defaults are what every caller wants.
struct XlsxExportOptions {
  // Rows per worksheet, header row included; tests lower it to see the sheet split.
  // Values below 2 are taken as 2.
  std::uint32_t rows_per_sheet = kSheetRowLimit;
  // When requested, the export ends at the next row and throws ExportError; nothing is
  // written to the destination.
  std::stop_token stop;
  // Called from the exporting thread with the rows written so far, every 16384 rows and
  // once at the end. May be empty.
  std::function<void(std::uint64_t rows_written)> progress;
};

// Where the workbook for a result file goes: 1.xlsx in the result file's folder.
std::filesystem::path WorkbookPathFor(const std::filesystem::path& result_file);

// Grid mode ("生成Excel"): writes the hit table to `xlsx_path` on a sheet named
// "StringGrid1": table row r, column c goes to sheet row r + 1, column c + 1, every value
// as text (empty cells stay blank). Rows beyond a sheet continue on "StringGrid12",
// "StringGrid13", ... each starting with the header row again. The workbook is written
// to a temporary file beside `xlsx_path` and renamed into place (replacing an older one)
// only when complete. Throws ExportError naming the file on any failure.
void ExportGridToXlsx(const ResultTable& table, const std::filesystem::path& xlsx_path,
                      const XlsxExportOptions& options = {});

// Bulk mode: streams the result file (cell rule, column count from line 2, short rows
// filled with empty cells, long rows cut) onto a sheet named "MainForm" in constant-memory
// mode, never loading the whole file. Line r goes to sheet row r + 1. When the sheet is
// full the rows continue on "MainForm2", "MainForm3", ...: each further sheet repeats the
// header row as its row 1 and carries on with the next hit in row 2, so nothing is
// dropped. Every value is written as text; a cell longer than a sheet cell holds (32,767
// characters) is cut there, the result file keeps the whole line. Same temporary-file
// and replace rule as grid mode. Returns the result-file rows written (header counted
// once). Throws ExportError naming the file that could not be read or written.
std::uint64_t ExportResultFileToXlsx(const std::filesystem::path& result_file,
                                     ResultEncoding encoding,
                                     const std::filesystem::path& xlsx_path,
                                     const XlsxExportOptions& options = {});

}  // namespace ostrel
