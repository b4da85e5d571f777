#include "export/excel_export.h"

#include <xlsxwriter.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace ostrel {
namespace {

namespace fs = std::filesystem;

struct WorkbookFree {
  void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};
using WorkbookPtr = std::unique_ptr<lxw_workbook, WorkbookFree>;

// A sheet cell holds at most this many UTF-16 code units.
constexpr std::size_t kCellUnitLimit = 32767;
constexpr std::uint64_t kProgressEvery = 16384;
// Above this much cell text a sheet's XML may pass the 4 GB a plain zip entry holds
// (a one-character cell costs about 25 times its text in sheet XML), so ZIP64 is used.
constexpr std::uint64_t kZip64Threshold = std::uint64_t{64} << 20;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of `text` and its code point,
// or 0 when the bytes there are not one.
std::size_t DecodeUtf8(std::string_view text, char32_t& code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  code_point = value;
  return length;
}

bool IsHex(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

// Whether `text` starts with "_xHHHH_", which a sheet reader decodes as one character.
bool StartsWithEscape(std::string_view text) {
  return text.size() >= 7 && text[0] == '_' && text[1] == 'x' && IsHex(text[2]) && IsHex(text[3]) &&
         IsHex(text[4]) && IsHex(text[5]) && text[6] == '_';
}

// Copies `cell` into `out` as text a sheet cell can hold and XML can carry: bytes that
// are not UTF-8, NUL and the non-characters U+FFFE/U+FFFF become U+FFFD, a literal
// "_xHHHH_" gets its underscore escaped so it reads back as written, and the text is cut
// at the cell limit. Other control characters are escaped by libxlsxwriter.
void PrepareCellText(std::string_view cell, std::string& out) {
  out.clear();
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < cell.size()) {
    if (cell[pos] == '_' && StartsWithEscape(cell.substr(pos))) {
      if (units + 1 > kCellUnitLimit) break;
      ++units;
      out.append("_x005F_");
      ++pos;
      continue;
    }
    char32_t code_point = 0;
    std::size_t length = DecodeUtf8(cell.substr(pos), code_point);
    const bool replace =
        length == 0 || code_point == 0 || code_point == 0xFFFE || code_point == 0xFFFF;
    if (length == 0) length = 1;
    const std::size_t width = code_point >= 0x10000 ? 2 : 1;
    if (units + width > kCellUnitLimit) break;
    units += width;
    if (replace) {
      out.append(kReplacement);
    } else {
      out.append(cell.substr(pos, length));
    }
    pos += length;
  }
}

std::string TempSuffix() {
  std::random_device device;
  std::uniform_int_distribution<unsigned long long> distribution;
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", distribution(device));
  return text;
}

// A file name that is removed again unless it was given up with Keep().
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove(path_, ignored);
  }
  void Own(fs::path path) { path_ = std::move(path); }
  void Keep() { path_.clear(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Writes rows into a new workbook at a temporary name beside the destination, opening a
// further sheet whenever one is full, and renames it into place on Commit. Destroyed
// without Commit (also when its constructor throws), it leaves the destination untouched
// and removes its temporary file.
class WorkbookWriter {
 public:
  WorkbookWriter(const fs::path& destination, std::string sheet_base,
                 const XlsxExportOptions& options, bool use_zip64)
      : destination_(destination),
        sheet_base_(std::move(sheet_base)),
        options_(options),
        rows_per_sheet_(std::clamp<std::uint32_t>(options.rows_per_sheet, 2, kSheetRowLimit)) {
    const fs::path folder = destination.parent_path();
    ReserveTempPath(folder);
    // libxlsxwriter's own scratch files go beside the workbook, not into a /tmp that may
    // live in memory.
    tmpdir_ = folder.empty() ? std::string(".") : folder.string();
    lxw_workbook_options workbook_options{};
    workbook_options.constant_memory = LXW_TRUE;
    workbook_options.tmpdir = tmpdir_.data();
    workbook_options.use_zip64 = use_zip64 ? LXW_TRUE : LXW_FALSE;
    workbook_.reset(workbook_new_opt(temp_.path().c_str(), &workbook_options));
    if (!workbook_) Fail("cannot start workbook");
    AddSheet();
  }

  WorkbookWriter(const WorkbookWriter&) = delete;
  WorkbookWriter& operator=(const WorkbookWriter&) = delete;

  // Writes the next row. The first row is the header and opens every further sheet.
  void WriteRow(std::span<const std::string_view> cells) {
    if (options_.stop.stop_requested()) {
      throw ExportError("export to " + destination_.string() + " was cancelled", destination_);
    }
    if (rows_written_ == 0) {
      header_.assign(cells.begin(), cells.end());
    } else if (next_row_ == rows_per_sheet_) {
      AddSheet();
      std::vector<std::string_view> header(header_.begin(), header_.end());
      WriteCells(header);
    }
    WriteCells(cells);
    ++rows_written_;
    if (options_.progress && rows_written_ % kProgressEvery == 0) {
      options_.progress(rows_written_);
    }
  }

  void Commit() {
    const lxw_error error = workbook_close(workbook_.release());
    if (error != LXW_NO_ERROR) Fail(std::string("cannot write workbook: ") + lxw_strerror(error));
    std::error_code code;
    fs::rename(temp_.path(), destination_, code);
    if (code) Fail("cannot put workbook in place: " + code.message());
    temp_.Keep();
    if (options_.progress) options_.progress(rows_written_);
  }

  std::uint64_t rows_written() const { return rows_written_; }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw ExportError(what + " (" + destination_.string() + ")", destination_);
  }

  // Creates the temporary workbook file now, so an unwritable folder fails before any row
  // is converted rather than when the finished workbook is saved.
  void ReserveTempPath(const fs::path& folder) {
    for (int attempt = 0;; ++attempt) {
      std::string name = ".";
      name.append(destination_.filename().string()).append(".").append(TempSuffix());
      name.append(".tmp");
      fs::path path = folder / name;
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        temp_.Own(std::move(path));
        return;
      }
      if (errno != EEXIST || attempt == 8) {
        Fail(std::string("cannot create workbook: ") + std::strerror(errno));
      }
    }
  }

  void AddSheet() {
    ++sheet_count_;
    const std::string name =
        sheet_count_ == 1 ? sheet_base_ : sheet_base_ + std::to_string(sheet_count_);
    sheet_ = workbook_add_worksheet(workbook_.get(), name.c_str());
    if (sheet_ == nullptr) Fail("cannot add worksheet " + name);
    next_row_ = 0;
  }

  void WriteCells(std::span<const std::string_view> cells) {
    // Columns past the sheet's last one (XFD) cannot be stored.
    const std::size_t count = std::min<std::size_t>(cells.size(), LXW_COL_MAX);
    for (std::size_t column = 0; column < count; ++column) {
      if (cells[column].empty()) continue;  // an empty text cell is a blank cell
      PrepareCellText(cells[column], cell_text_);
      const lxw_error error = worksheet_write_string(
          sheet_, next_row_, static_cast<lxw_col_t>(column), cell_text_.c_str(), nullptr);
      if (error != LXW_NO_ERROR) {
        Fail(std::string("cannot write cell: ") + lxw_strerror(error));
      }
    }
    ++next_row_;
  }

  fs::path destination_;
  TempFile temp_;  // declared before workbook_, which must be freed first
  std::string tmpdir_;
  std::string sheet_base_;
  const XlsxExportOptions& options_;
  std::uint32_t rows_per_sheet_;
  WorkbookPtr workbook_;
  lxw_worksheet* sheet_ = nullptr;  // owned by workbook_
  std::uint32_t sheet_count_ = 0;
  lxw_row_t next_row_ = 0;
  std::uint64_t rows_written_ = 0;
  std::vector<std::string> header_;
  std::string cell_text_;
};

}  // namespace

fs::path WorkbookPathFor(const fs::path& result_file) {
  return result_file.parent_path() / "1.xlsx";
}

void ExportGridToXlsx(const ResultTable& table, const fs::path& xlsx_path,
                      const XlsxExportOptions& options) {
  std::uint64_t text_bytes = 0;
  for (const auto& row : table.rows) {
    for (const auto& cell : row) text_bytes += cell.size() + 1;
  }
  WorkbookWriter writer(xlsx_path, "StringGrid1", options, text_bytes > kZip64Threshold);
  std::vector<std::string_view> cells;
  for (const auto& row : table.rows) {
    cells.assign(row.begin(), row.begin() + std::min(row.size(), table.column_count));
    cells.resize(table.column_count);
    writer.WriteRow(cells);
  }
  writer.Commit();
}

std::uint64_t ExportResultFileToXlsx(const fs::path& result_file, ResultEncoding encoding,
                                     const fs::path& xlsx_path, const XlsxExportOptions& options) {
  std::error_code code;
  if (fs::equivalent(result_file, xlsx_path, code)) {
    throw ExportError("the workbook would replace the result file " + result_file.string(),
                      xlsx_path);
  }
  const std::uintmax_t file_size = fs::file_size(result_file, code);
  WorkbookWriter writer(xlsx_path, "MainForm", options, !code && file_size > kZip64Threshold);
  try {
    ForEachResultRow(result_file, encoding,
                     [&writer](std::uint64_t, std::span<const std::string_view> cells) {
                       writer.WriteRow(cells);
                     });
  } catch (const ExportError&) {
    throw;
  } catch (const std::runtime_error& error) {
    throw ExportError(error.what(), result_file);
  }
  writer.Commit();
  return writer.rows_written();
}

}  // namespace ostrel
