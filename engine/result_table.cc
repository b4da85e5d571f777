#include "engine/result_table.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "ipdb/gbk.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// Hands out the lines of a file one at a time, read in blocks. A line is held whole in
// the buffer (a long line grows it), so only the current line is ever in memory.
class LineReader {
 public:
  explicit LineReader(const fs::path& path) : path_(path), buffer_(kBlockSize, '\0') {
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) {
      throw std::runtime_error("cannot open result file " + path.string() + ": " +
                               std::strerror(errno));
    }
  }

  // Gives the next line without its LF or CR LF; the view lives until the next call.
  // False at the end of the file. A final line break does not make an empty line.
  bool Next(std::string_view& line) {
    for (;;) {
      const char* data = buffer_.data();
      const void* newline = std::memchr(data + begin_, '\n', end_ - begin_);
      if (newline != nullptr) {
        const std::size_t stop = static_cast<const char*>(newline) - data;
        line = Trim(std::string_view(data + begin_, stop - begin_));
        begin_ = stop + 1;
        return true;
      }
      if (eof_) {
        if (begin_ == end_) return false;
        line = Trim(std::string_view(data + begin_, end_ - begin_));
        begin_ = end_;
        return true;
      }
      Fill();
    }
  }

 private:
  static std::string_view Trim(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  // Moves the unfinished line to the front, grows the buffer when that line fills it,
  // and reads the next block behind it.
  void Fill() {
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (buffer_.size() - end_ < kBlockSize / 2) buffer_.resize(buffer_.size() * 2);
    const std::size_t got =
        std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_.get());
    end_ += got;
    if (got == 0) {
      if (std::ferror(file_.get())) {
        throw std::runtime_error("cannot read result file " + path_.string() + ": " +
                                 std::strerror(errno));
      }
      eof_ = true;
    }
  }

  fs::path path_;
  FilePtr file_;
  std::string buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
};

bool IsAscii(std::string_view text) {
  for (const char ch : text) {
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  }
  return true;
}

// Gives the line as UTF-8: ASCII and valid UTF-8 lines as they are, without copying;
// others decoded into `scratch`.
std::string_view DecodeLine(std::string_view raw, ResultEncoding encoding, std::string& scratch) {
  if (IsAscii(raw)) return raw;
  if (encoding == ResultEncoding::kUtf8 && IsValidUtf8(raw)) return raw;
  scratch = GbkToUtf8(raw);
  return scratch;
}

}  // namespace

void SplitResultCells(std::string_view line, std::vector<std::string_view>& cells) {
  cells.clear();
  const std::size_t size = line.size();
  std::size_t pos = 0;
  while (pos < size) {
    while (pos < size && line[pos] == ' ') ++pos;
    if (pos == size) break;
    const std::size_t start = pos;
    char quote = '\0';
    for (; pos < size; ++pos) {
      const char ch = line[pos];
      if (quote != '\0') {
        if (ch == quote) quote = '\0';
      } else if (ch == ' ') {
        break;
      } else if (ch == '\'' || ch == '"') {
        quote = ch;
      }
    }
    cells.push_back(line.substr(start, pos - start));
  }
}

std::vector<std::string> SplitResultCells(std::string_view line) {
  std::vector<std::string_view> views;
  SplitResultCells(line, views);
  return {views.begin(), views.end()};
}

std::uint64_t ForEachResultRow(const fs::path& path, ResultEncoding encoding,
                               const ResultRowFn& on_row) {
  LineReader reader(path);
  std::string_view raw;
  if (!reader.Next(raw)) return 0;

  // A byte-order mark that an editor may have added is not part of the first title.
  if (encoding == ResultEncoding::kUtf8 && raw.starts_with("\xEF\xBB\xBF")) raw.remove_prefix(3);

  // The header waits until line 2 has fixed the column count.
  std::string scratch;
  std::string header(DecodeLine(raw, encoding, scratch));
  std::vector<std::string_view> header_cells;
  SplitResultCells(header, header_cells);

  std::vector<std::string_view> cells;
  if (!reader.Next(raw)) {
    on_row(0, header_cells);
    return 1;
  }
  SplitResultCells(DecodeLine(raw, encoding, scratch), cells);
  const std::size_t column_count = cells.size();
  header_cells.resize(column_count);
  on_row(0, header_cells);
  on_row(1, cells);

  std::uint64_t row = 2;
  while (reader.Next(raw)) {
    SplitResultCells(DecodeLine(raw, encoding, scratch), cells);
    // Short rows get empty cells, long rows lose the cells beyond the column count.
    cells.resize(column_count);
    on_row(row, cells);
    ++row;
  }
  return row;
}

ResultTable LoadResultFile(const fs::path& path, ResultEncoding encoding) {
  ResultTable table;
  ForEachResultRow(path, encoding,
                   [&table](std::uint64_t, std::span<const std::string_view> cells) {
                     table.column_count = cells.size();
                     table.rows.emplace_back(cells.begin(), cells.end());
                   });
  return table;
}

}  // namespace ostrel
