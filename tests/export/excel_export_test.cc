#include "export/excel_export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "export/export_messages.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

using Rows = std::vector<std::vector<std::string>>;
struct Sheet {
  std::string name;
  Rows rows;
};

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

class ExcelExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0) {
      GTEST_SKIP() << "python3-openpyxl is not installed";
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / ("excel_export_" + std::string(info->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path WriteResult(const std::string& bytes) {
    const fs::path path = dir_ / "1.log";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // Runs the independent checker on `workbook`; true when names, cells and types agree.
  bool Matches(const fs::path& workbook, const std::vector<Sheet>& sheets) {
    std::string json = "{\"sheets\": [";
    for (std::size_t s = 0; s < sheets.size(); ++s) {
      json += (s ? ", " : "") + std::string("{\"name\": ") + JsonString(sheets[s].name) +
              ", \"rows\": [";
      for (std::size_t r = 0; r < sheets[s].rows.size(); ++r) {
        json += r ? ", [" : "[";
        for (std::size_t c = 0; c < sheets[s].rows[r].size(); ++c) {
          json += (c ? ", " : "") + JsonString(sheets[s].rows[r][c]);
        }
        json += "]";
      }
      json += "]}";
    }
    json += "]}";
    const fs::path expected = dir_ / "expected.json";
    std::ofstream(expected, std::ios::binary) << json;
    const std::string command = "/usr/bin/python3 " OSTREL_SOURCE_DIR
                                "/tests/export/check_xlsx.py '" +
                                workbook.string() + "' '" + expected.string() + "'";
    return std::system(command.c_str()) == 0;
  }

  // Names in the folder other than the result file and the workbook: leftovers.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const auto name = entry.path().filename().string();
      if (name != "1.log" && name != "1.xlsx" && name != "expected.json") names.push_back(name);
    }
    return names;
  }

  fs::path dir_;
};

TEST_F(ExcelExportTest, GridModeWritesTheTableAsTextOnStringGrid1) {
  ResultTable table;
  table.column_count = 5;
  table.rows = {{"客户端IP", "物理地址", "时间", "协议状态码", "字节数"},
                {"1.2.3.4", "中国", "[08/Dec/2026:10:00:00", "200", "00512"},
                {"5.6.7.8", "'a b'", "=SUM(A1)", "1e5", "TRUE"}};
  const fs::path workbook = dir_ / "1.xlsx";
  ExportGridToXlsx(table, workbook);
  EXPECT_TRUE(Matches(workbook, {{"StringGrid1", table.rows}}));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ExcelExportTest, GridModeFitsRaggedRowsToTheColumnCount) {
  ResultTable table;
  table.column_count = 2;
  table.rows = {{"h"}, {"a", "b", "c"}, {}};
  const fs::path workbook = dir_ / "1.xlsx";
  ExportGridToXlsx(table, workbook);
  EXPECT_TRUE(Matches(workbook, {{"StringGrid1", {{"h"}, {"a", "b"}}}}));
}

TEST_F(ExcelExportTest, GridModeContinuesOnFurtherSheetsWithTheHeader) {
  ResultTable table{1, {{"h"}, {"a"}, {"b"}}};
  const fs::path workbook = dir_ / "1.xlsx";
  XlsxExportOptions options;
  options.rows_per_sheet = 2;
  ExportGridToXlsx(table, workbook, options);
  EXPECT_TRUE(
      Matches(workbook, {{"StringGrid1", {{"h"}, {"a"}}}, {"StringGrid12", {{"h"}, {"b"}}}}));
}

TEST_F(ExcelExportTest, BulkModeUsesTheCellRuleAndFillsShortRows) {
  const fs::path result = WriteResult(
      "h1 h2 h3 h4\r\n1.1.1.1 \"GET /a b\" 200\r\n2.2.2.2 'x\r\n3.3.3.3 y 404 extra\r\n");
  const fs::path workbook = WorkbookPathFor(result);
  EXPECT_EQ(workbook, dir_ / "1.xlsx");
  EXPECT_EQ(ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook), 4u);
  EXPECT_TRUE(Matches(workbook, {{"MainForm",
                                  {{"h1", "h2", "h3"},
                                   {"1.1.1.1", "\"GET /a b\"", "200"},
                                   {"2.2.2.2", "'x"},
                                   {"3.3.3.3", "y", "404"}}}}));
}

TEST_F(ExcelExportTest, BulkModeReadsGbk) {
  const fs::path result = WriteResult(
      "\xBF\xCD\xBB\xA7\xB6\xCB"
      "IP x\r\n1.2.3.4 \xB1\xB1\xBE\xA9\r\n");
  const fs::path workbook = WorkbookPathFor(result);
  ExportResultFileToXlsx(result, ResultEncoding::kGbk, workbook);
  EXPECT_TRUE(Matches(workbook, {{"MainForm", {{"客户端IP", "x"}, {"1.2.3.4", "北京"}}}}));
}

TEST_F(ExcelExportTest, BulkModeContinuesOnFurtherSheetsWithTheHeader) {
  std::string text = "h1 h2\r\n";
  Rows hits;
  for (int i = 1; i <= 8; ++i) {
    text += "a" + std::to_string(i) + " b" + std::to_string(i) + "\r\n";
    hits.push_back({"a" + std::to_string(i), "b" + std::to_string(i)});
  }
  const fs::path result = WriteResult(text);
  const fs::path workbook = WorkbookPathFor(result);
  XlsxExportOptions options;
  options.rows_per_sheet = 4;  // the header and three hits per sheet
  std::uint64_t last_progress = 0;
  options.progress = [&](std::uint64_t rows) { last_progress = rows; };
  EXPECT_EQ(ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook, options), 9u);
  EXPECT_EQ(last_progress, 9u);
  const std::vector<std::string> header{"h1", "h2"};
  EXPECT_TRUE(Matches(workbook, {{"MainForm", {header, hits[0], hits[1], hits[2]}},
                                 {"MainForm2", {header, hits[3], hits[4], hits[5]}},
                                 {"MainForm3", {header, hits[6], hits[7]}}}));
}

TEST_F(ExcelExportTest, FullSheetWithoutMoreRowsOpensNoEmptySheet) {
  const fs::path result = WriteResult("h\na\nb\nc\n");
  const fs::path workbook = WorkbookPathFor(result);
  XlsxExportOptions options;
  options.rows_per_sheet = 4;
  ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook, options);
  EXPECT_TRUE(Matches(workbook, {{"MainForm", {{"h"}, {"a"}, {"b"}, {"c"}}}}));
}

TEST_F(ExcelExportTest, HostileTextIsMadeSafeAndLongCellsAreCut) {
  const std::string long_cell(40000, 'x');
  const std::string astral = "\xF0\x9F\x98\x80";  // two UTF-16 units
  std::string astral_cell(32766, 'y');
  astral_cell += astral + astral;
  const fs::path result =
      WriteResult(std::string("h v\n") + std::string("nul a\0b\n", 8) + "ctl a\x01\rb\n" +
                  "bad \xC3\x28\n" + "long " + long_cell + "\n" + "astral " + astral_cell + "\n" +
                  "ws \" a \"\n" + "esc _x0041_\n");
  const fs::path workbook = WorkbookPathFor(result);
  ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook);
  EXPECT_TRUE(Matches(workbook, {{"MainForm",
                                  {{"h", "v"},
                                   {"nul",
                                    "a\xEF\xBF\xBD"
                                    "b"},
                                   {"ctl", "a\x01\rb"},
                                   {"bad", "\xEF\xBF\xBD("},
                                   {"long", long_cell.substr(0, 32767)},
                                   {"astral", std::string(32766, 'y')},
                                   {"ws", "\" a \""},
                                   {"esc", "_x0041_"}}}}));
}

TEST_F(ExcelExportTest, ReplacesAnOlderWorkbook) {
  const fs::path result = WriteResult("h\na\n");
  const fs::path workbook = WorkbookPathFor(result);
  std::ofstream(workbook) << "old";
  ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook);
  EXPECT_TRUE(Matches(workbook, {{"MainForm", {{"h"}, {"a"}}}}));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ExcelExportTest, CancelledExportKeepsTheOlderWorkbook) {
  const fs::path result = WriteResult("h\na\nb\n");
  const fs::path workbook = WorkbookPathFor(result);
  std::ofstream(workbook) << "old";
  std::stop_source stop;
  stop.request_stop();
  XlsxExportOptions options;
  options.stop = stop.get_token();
  EXPECT_THROW(ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook, options),
               ExportError);
  std::ifstream in(workbook);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ExcelExportTest, MissingResultFileIsAnErrorNamingIt) {
  const fs::path result = dir_ / "gone.log";
  try {
    ExportResultFileToXlsx(result, ResultEncoding::kUtf8, dir_ / "1.xlsx");
    FAIL() << "no error";
  } catch (const ExportError& error) {
    EXPECT_THAT(error.what(), HasSubstr(result.string()));
    EXPECT_EQ(error.file(), result);
  }
  EXPECT_FALSE(fs::exists(dir_ / "1.xlsx"));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(ExcelExportTest, UnwritableDestinationIsAnErrorNamingIt) {
  ResultTable table{1, {{"h"}}};
  const fs::path workbook = dir_ / "no such folder" / "1.xlsx";
  try {
    ExportGridToXlsx(table, workbook);
    FAIL() << "no error";
  } catch (const ExportError& error) {
    EXPECT_THAT(error.what(), HasSubstr(workbook.string()));
  }
}

TEST_F(ExcelExportTest, WorkbookNeverReplacesTheResultFile) {
  const fs::path result = WriteResult("h\na\n");
  EXPECT_THROW(ExportResultFileToXlsx(result, ResultEncoding::kUtf8, result), ExportError);
  EXPECT_TRUE(fs::exists(result));
  EXPECT_EQ(fs::file_size(result), 4u);
}

TEST(ExportMessagesTest, LocationTextPrefixesThePath) {
  EXPECT_EQ(ResultLocationText("/opt/ostrel/1.log"), "保存在 /opt/ostrel/1.log");
}

}  // namespace
}  // namespace ostrel
