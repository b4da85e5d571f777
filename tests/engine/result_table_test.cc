#include "engine/result_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct CellCase {
  const char* name;
  std::string line;
  std::vector<std::string> cells;
};

class CellRuleTest : public ::testing::TestWithParam<CellCase> {};

TEST_P(CellRuleTest, SplitsLikeTheTable) {
  EXPECT_EQ(SplitResultCells(GetParam().line), GetParam().cells);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CellRuleTest,
    ::testing::Values(
        CellCase{"Empty", "", {}}, CellCase{"OnlySpaces", "   ", {}},
        CellCase{"Plain", "a b c", {"a", "b", "c"}},
        CellCase{"RunsAndEdgesOfSpaces", "  a   b  ", {"a", "b"}},
        CellCase{"TabDoesNotCut", "a\tb c\t", {"a\tb", "c\t"}},
        CellCase{"DoubleQuotedStretch", "a \"b c\" d", {"a", "\"b c\"", "d"}},
        CellCase{"SingleQuotedStretch", "a 'b  c' d", {"a", "'b  c'", "d"}},
        CellCase{"OtherQuoteInside", "a 'b \"c' d", {"a", "'b \"c'", "d"}},
        CellCase{"QuoteOpensMidCell", "x\"b c\"y z", {"x\"b c\"y", "z"}},
        CellCase{"UnclosedQuoteRunsToEnd", "a \"b c  d", {"a", "\"b c  d"}},
        CellCase{"UnclosedSingleQuoteAfterClosedDouble",
                 "a \"b 'c d\" e'f g",
                 {"a", "\"b 'c d\"", "e'f g"}},
        CellCase{"EmptyQuotes", "a \"\" b", {"a", "\"\"", "b"}},
        CellCase{"QuotedSpacesOnly", "\"   \"", {"\"   \""}},
        CellCase{"Utf8Untouched", "中国 北京 '电信 联通'", {"中国", "北京", "'电信 联通'"}},
        CellCase{"ApacheLine",
                 "1.2.3.4 中国 - - [08/Dec/2026:10:00:00 +0800] \"GET /a?b=1 HTTP/1.1\" 200 "
                 "512 \"-\" \"Mozilla/5.0 (X11)\"",
                 {"1.2.3.4", "中国", "-", "-", "[08/Dec/2026:10:00:00", "+0800]",
                  "\"GET /a?b=1 HTTP/1.1\"", "200", "512", "\"-\"", "\"Mozilla/5.0 (X11)\""}}),
    [](const ::testing::TestParamInfo<CellCase>& info) { return info.param.name; });

TEST(CellRuleTest, ViewFormReusesTheVectorAndPointsIntoTheLine) {
  std::vector<std::string_view> cells{"stale"};
  const std::string line = " a 'b c' ";
  SplitResultCells(line, cells);
  ASSERT_THAT(cells, ElementsAre("a", "'b c'"));
  EXPECT_EQ(cells[1].data(), line.data() + 3);
}

class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(::testing::TempDir()) / ("result_table_" + std::string(info->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string& bytes) {
    const fs::path path = dir_ / "1.log";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path dir_;
};

TEST_F(ResultFileTest, ColumnCountComesFromTheFirstHitLine) {
  const auto table = LoadResultFile(Write("h1 h2 h3 h4\r\na b c\r\nd e f g\r\nx\r\n"));
  EXPECT_EQ(table.column_count, 3u);
  EXPECT_THAT(table.rows, ElementsAre(ElementsAre("h1", "h2", "h3"), ElementsAre("a", "b", "c"),
                                      ElementsAre("d", "e", "f"), ElementsAre("x", "", "")));
}

TEST_F(ResultFileTest, ShortHeaderAndUnmatchedQuoteRowsAreFilled) {
  const auto table = LoadResultFile(Write("h1\na b c\n'd e f\n\nk l m\n"));
  ASSERT_EQ(table.column_count, 3u);
  EXPECT_THAT(table.rows, ElementsAre(ElementsAre("h1", "", ""), ElementsAre("a", "b", "c"),
                                      ElementsAre("'d e f", "", ""), ElementsAre("", "", ""),
                                      ElementsAre("k", "l", "m")));
}

TEST_F(ResultFileTest, LastLineWithoutBreakAndBareLfAreRead) {
  const auto table = LoadResultFile(Write("h\na b\nc d"));
  EXPECT_THAT(table.rows,
              ElementsAre(ElementsAre("h", ""), ElementsAre("a", "b"), ElementsAre("c", "d")));
}

TEST_F(ResultFileTest, HeaderOnlyFileKeepsTheHeaderColumns) {
  const auto table = LoadResultFile(Write("日期 时间 服务器IP\r\n"));
  EXPECT_EQ(table.column_count, 3u);
  EXPECT_THAT(table.rows, ElementsAre(ElementsAre("日期", "时间", "服务器IP")));
}

TEST_F(ResultFileTest, Utf8ByteOrderMarkIsNotPartOfTheFirstTitle) {
  const auto table = LoadResultFile(Write("\xEF\xBB\xBFh1 h2\r\na b\r\n"));
  EXPECT_THAT(table.rows[0], ElementsAre("h1", "h2"));
}

TEST_F(ResultFileTest, EmptyFileGivesNoRows) {
  const auto table = LoadResultFile(Write(""));
  EXPECT_EQ(table.column_count, 0u);
  EXPECT_TRUE(table.rows.empty());
}

TEST_F(ResultFileTest, GbkFileIsConverted) {
  // "客户端IP 物理地址" and "1.2.3.4 北京" in GBK.
  const std::string gbk =
      "\xBF\xCD\xBB\xA7\xB6\xCB"
      "IP \xCE\xEF\xC0\xED\xB5\xD8\xD6\xB7\r\n"
      "1.2.3.4 \xB1\xB1\xBE\xA9\r\n";
  const auto table = LoadResultFile(Write(gbk), ResultEncoding::kGbk);
  EXPECT_THAT(table.rows,
              ElementsAre(ElementsAre("客户端IP", "物理地址"), ElementsAre("1.2.3.4", "北京")));
}

TEST_F(ResultFileTest, InvalidUtf8LineInUtf8FileIsDecodedAsGbk) {
  const auto table = LoadResultFile(Write("h x\r\na \xB1\xB1\xBE\xA9\r\nb \xFF\r\n"));
  EXPECT_THAT(table.rows, ElementsAre(ElementsAre("h", "x"), ElementsAre("a", "北京"),
                                      ElementsAre("b", "\xEF\xBF\xBD")));
}

TEST_F(ResultFileTest, NulBytesStayInTheirCell) {
  const auto table = LoadResultFile(Write(std::string("h\na\0b c\n", 8)));
  EXPECT_THAT(table.rows[1], ElementsAre(std::string("a\0b", 3), "c"));
}

TEST_F(ResultFileTest, LinesLongerThanAReadBlockArriveWhole) {
  const std::string long_cell(3 << 20, 'x');
  std::uint64_t rows = 0;
  std::size_t long_size = 0;
  const auto count =
      ForEachResultRow(Write("h\r\na " + long_cell + "\r\nb c\r\n"), ResultEncoding::kUtf8,
                       [&](std::uint64_t row, std::span<const std::string_view> cells) {
                         EXPECT_EQ(row, rows++);
                         EXPECT_EQ(cells.size(), 2u);
                         if (row == 1) long_size = cells[1].size();
                       });
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(long_size, long_cell.size());
}

TEST_F(ResultFileTest, MissingFileNamesThePath) {
  const fs::path missing = dir_ / "missing.log";
  try {
    LoadResultFile(missing);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr(missing.string()));
  }
}

TEST_F(ResultFileTest, DirectoryIsAReadError) {
  EXPECT_THROW(LoadResultFile(dir_), std::runtime_error);
}

}  // namespace
}  // namespace ostrel
