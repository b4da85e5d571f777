#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/options.h"

namespace ostrel {

// Cuts one result-file line into cells: cells are separated by runs of spaces (leading and
// trailing spaces give no empty cells). A ' or " opens a quoted stretch that lasts to the
// next quote of the same kind or to the end of the line; spaces inside it do not cut and
// the other quote kind has no effect there. A quote may open in the middle of a cell and
// stays part of the cell text. Tabs do not cut. Never throws on any input.
std::vector<std::string> SplitResultCells(std::string_view line);

// The same rule without allocating per line: `cells` is cleared and receives views into
// `line`, which must outlive them. Meant for loops over many lines that reuse `cells`.
void SplitResultCells(std::string_view line, std::vector<std::string_view>& cells);

// The result file as a table of text cells (UTF-8).
//
// rows[0] holds the header line's cells, rows[1..] one hit each, in file order. The column
// count is the cell count of line 2 (the first hit); every row has exactly column_count
// cells: a shorter row is filled with empty cells, a longer one loses its extra cells.
// A file with the header line only takes its column count from the header, so the table
// shows the column titles; an empty file gives no rows and column_count 0.
struct ResultTable {
  std::size_t column_count = 0;
  std::vector<std::vector<std::string>> rows;
};

// Reads the whole result file at `path` (CR LF or LF line ends; a final line break does
// not make an empty row; a leading UTF-8 byte-order mark is skipped) and cuts every line
// by the cell rule. A GBK file is converted to
// UTF-8; in a UTF-8 file a line that is not valid UTF-8 is decoded as GB18030 (bytes
// valid in neither become U+FFFD), so every cell is valid UTF-8. Throws std::runtime_error
// naming the path when the file cannot be opened or read. Never changes the file.
ResultTable LoadResultFile(const std::filesystem::path& path,
                           ResultEncoding encoding = ResultEncoding::kUtf8);

// Called once per row by ForEachResultRow: `row` counts from 0 (the header line), `cells`
// holds exactly the column count of cells and is valid only during the call.
using ResultRowFn = std::function<void(std::uint64_t row, std::span<const std::string_view> cells)>;

// The streaming form of LoadResultFile for files of any size: reads `path` in blocks and
// never holds more than one line (plus the header until line 2 is known) in memory. Rows,
// cells, the column-count rule and the decoding are exactly those of LoadResultFile.
// Returns the number of rows given to `on_row`. Throws std::runtime_error naming the path
// when the file cannot be opened or read; exceptions from `on_row` pass through.
std::uint64_t ForEachResultRow(const std::filesystem::path& path, ResultEncoding encoding,
                               const ResultRowFn& on_row);

}  // namespace ostrel
