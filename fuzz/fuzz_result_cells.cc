// The result-file cell rule on arbitrary lines. Checks what every cut must satisfy: cells
// are non-empty, in order, and only spaces lie between them; a cell holds a space only
// inside a quoted stretch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "engine/result_table.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> cells;
  ostrel::SplitResultCells(line, cells);
  std::size_t pos = 0;
  for (const std::string_view cell : cells) {
    Check(!cell.empty() && cell.front() != ' ');
    const auto offset = static_cast<std::size_t>(cell.data() - line.data());
    Check(offset >= pos && offset + cell.size() <= line.size());
    for (std::size_t i = pos; i < offset; ++i) Check(line[i] == ' ');
    char quote = '\0';
    for (const char ch : cell) {
      if (quote != '\0') {
        if (ch == quote) quote = '\0';
      } else {
        Check(ch != ' ');
        if (ch == '\'' || ch == '"') quote = ch;
      }
    }
    pos = offset + cell.size();
    // A cell ends at a space or at the end of the line.
    Check(pos == line.size() || line[pos] == ' ');
  }
  for (std::size_t i = pos; i < line.size(); ++i) Check(line[i] == ' ');
  return 0;
}
