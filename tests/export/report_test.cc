#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "export/csv_sink.h"
#include "export/hit_time.h"
#include "export/html_report.h"
#include "export/html_text.h"
#include "export/jsonl_sink.h"
#include "export/report_collector.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

struct TextCase {
  std::string input;
  std::string expected;
};

class HtmlEscapeTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(HtmlEscapeTest, EscapesMarkupAndControls) {
  EXPECT_EQ(HtmlEscaped(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HtmlEscapeTest,
    ::testing::Values(TextCase{"<script>alert(1)</script>",
                               "&lt;script&gt;alert(1)&lt;/script&gt;"},
                      TextCase{"a&b \"c\" 'd'", "a&amp;b &quot;c&quot; &#39;d&#39;"},
                      TextCase{"&lt;", "&amp;lt;"},
                      TextCase{std::string("x\0y\x1b\x7fz", 6), "x\uFFFDy\uFFFD\uFFFDz"},
                      TextCase{"tab\tlf\n", "tab\tlf\n"}, TextCase{"荷兰 /搜索", "荷兰 /搜索"}));

struct TimeCase {
  std::string time;
  std::optional<std::string> hour;  // BucketLabel of the parsed hour; nullopt: unreadable
};

class HitTimeTest : public ::testing::TestWithParam<TimeCase> {};

TEST_P(HitTimeTest, ReadsTheHour) {
  const std::optional<std::int64_t> hour = ParseHitHour(GetParam().time);
  ASSERT_EQ(hour.has_value(), GetParam().hour.has_value()) << GetParam().time;
  if (hour) {
    EXPECT_EQ(BucketLabel(*hour, TimeBucket::kHour), *GetParam().hour);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HitTimeTest,
    ::testing::Values(TimeCase{"01/dec/2026:10:00:39 +0800", "2026-12-01 10:00"},
                      TimeCase{"29/FEB/2024:23:59:59 -0500", "2024-02-29 23:00"},
                      TimeCase{"01/Jan/1970:00:00:00", "1970-01-01 00:00"},
                      TimeCase{"2026-12-01 10:00:39", "2026-12-01 10:00"},
                      TimeCase{"2026-12-31T23:05:00+08:00", "2026-12-31 23:00"},
                      TimeCase{"1969-12-31 23:59:59", "1969-12-31 23:00"},
                      TimeCase{"29/feb/2026:10:00:00 +0800", std::nullopt},
                      TimeCase{"01/xyz/2026:10:00:00 +0800", std::nullopt},
                      TimeCase{"2026-13-01 10:00:00", std::nullopt},
                      TimeCase{"2026-12-01 24:00:00", std::nullopt},
                      TimeCase{"1899-12-31 10:00:00", std::nullopt},
                      TimeCase{"10:00:39", std::nullopt}, TimeCase{"2026-12-01", std::nullopt},
                      TimeCase{"-", std::nullopt}, TimeCase{"", std::nullopt}));

TEST(HitTimeTest, BucketsFollowTheCalendar) {
  const std::int64_t hour = *ParseHitHour("2024-12-31 23:10:00");
  EXPECT_EQ(BucketLabel(NextBucket(hour, TimeBucket::kHour), TimeBucket::kHour),
            "2025-01-01 00:00");
  EXPECT_EQ(BucketLabel(BucketStart(hour, TimeBucket::kMonth), TimeBucket::kHour),
            "2024-12-01 00:00");
  EXPECT_EQ(BucketLabel(NextBucket(hour, TimeBucket::kMonth), TimeBucket::kDay), "2025-01-01");
  EXPECT_EQ(BucketLabel(NextBucket(hour, TimeBucket::kYear), TimeBucket::kYear), "2025");
}

class CsvFieldTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(CsvFieldTest, QuotesWhatNeedsIt) {
  std::string out;
  AppendCsvField(GetParam().input, out);
  EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CsvFieldTest,
                         ::testing::Values(TextCase{"plain", "plain"}, TextCase{"", ""},
                                           TextCase{"a,b", "\"a,b\""},
                                           TextCase{"say \"hi\"", "\"say \"\"hi\"\"\""},
                                           TextCase{"two\r\nlines", "\"two\r\nlines\""},
                                           TextCase{" padded", "\" padded\""}));

class RequestPathTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(RequestPathTest, TakesTheTargetWithoutItsQuery) {
  EXPECT_EQ(RequestPath(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RequestPathTest,
    ::testing::Values(TextCase{"get /a/b.php?x=1 http/1.1", "/a/b.php"},
                      TextCase{"post /login http/2.0", "/login"}, TextCase{"get /x#frag", "/x"},
                      TextCase{"/stem?query", "/stem"},
                      TextCase{"get http://evil/p?q http/1.1", "http://evil/p"},
                      TextCase{"get /a\" 200 512 \"-\" \"ua\"", "/a"}, TextCase{"get", ""},
                      TextCase{"", ""}));

TEST(CappedCounterTest, CountsNewKeysBeyondTheCapAsOthers) {
  CappedCounter counter(2, 4);
  counter.Add("a");
  counter.Add("b");
  counter.Add("c");
  counter.Add("a");
  counter.Add("abcdef");  // cut to "abcd": a new key, over the cap
  EXPECT_EQ(counter.size(), 2u);
  EXPECT_EQ(counter.others(), 2u);
  EXPECT_EQ(counter.total(), 5u);
  const auto top = counter.Top(1);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].first, "a");
  EXPECT_EQ(top[0].second->count, 2u);
}

TEST(CutToColumnsTest, CountsWideCharactersTwice) {
  EXPECT_EQ(CutToColumns("abcdef", 6), "abcdef");
  EXPECT_EQ(CutToColumns("abcdefg", 6), "abcde…");
  EXPECT_EQ(CutToColumns("荷兰阿姆斯特丹", 6), "荷兰…");
  EXPECT_EQ(Utf8Prefix("荷兰", 4), "荷");
}

HitRecord HostileHit(const fs::path& file) {
  HitRecord hit;
  hit.file = &file;
  hit.line_number = 7;
  hit.line = "1.2.3.4 x <script>alert(1)</script>";
  hit.client = "1.2.3.4\"><svg onload=alert(2)>";
  hit.location = "<b>somewhere</b>";
  hit.subject = "get /<img src=x>?q=<script>alert(1)</script> http/1.1";
  hit.status = "200";
  hit.time = "01/dec/2026:10:00:39 +0800";
  hit.slot = 1;
  hit.layout = LineLayout::kCombined;
  return hit;
}

TEST(HtmlReportTest, ShowsHostileTextsAsTextAndDrawsEveryChart) {
  const fs::path file = "/logs/<evil>.log";
  ReportCollector collector;
  collector.Hit(HostileHit(file));
  RunSummary summary;
  summary.files = 1;
  summary.hits = summary.counts.hits = 1;
  FileSummary& file_summary = summary.per_file.emplace_back();
  file_summary.path = file;
  file_summary.finished = true;
  ReportContext context;
  context.inputs = {file};
  const std::string html = RenderHtmlReport(collector, summary, context);
  EXPECT_THAT(html, Not(HasSubstr("<script")));
  EXPECT_THAT(html, Not(HasSubstr("<b>somewhere")));
  EXPECT_THAT(html, Not(HasSubstr("<img")));
  EXPECT_THAT(html, Not(HasSubstr("<svg onload")));
  EXPECT_THAT(html, Not(HasSubstr("<evil>")));
  EXPECT_THAT(html, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
  for (const char* chart : {"chart-category", "chart-slot", "chart-addresses", "chart-locations",
                            "chart-timeline", "chart-paths", "chart-status"}) {
    EXPECT_THAT(html, HasSubstr(std::string("<svg id=\"") + chart + "\"")) << chart;
  }
  EXPECT_THAT(html, HasSubstr("分析完成"));
}

TEST(HtmlReportTest, SaysWhenTheRunDidNotFinish) {
  ReportCollector collector;
  RunSummary summary;
  ReportContext context;
  context.inputs = {"a.log", "b.log"};
  summary.files = 1;
  EXPECT_THAT(RenderHtmlReport(collector, summary, context), HasSubstr("分析因错误而中止"));
  summary.stopped = true;
  EXPECT_THAT(RenderHtmlReport(collector, summary, context), HasSubstr("分析已被中止"));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A sink is made before the run checks its outputs against the inputs: it must not empty
// its file until the run has begun.
TEST(HitOutputFileTest, TouchesNothingBeforeTheRunBegins) {
  const fs::path folder = fs::path(::testing::TempDir()) / "hit_output_file_test";
  fs::create_directories(folder);
  const fs::path path = folder / "kept.jsonl";
  std::ofstream(path) << "old\n";
  {
    JsonLinesSink jsonl(path);
    CsvSink csv(path);
  }
  EXPECT_EQ(ReadFile(path), "old\n");
  {
    CsvSink csv(path);
    csv.Finish(RunSummary{});
  }
  EXPECT_EQ(ReadFile(path).substr(0, 16), "file,file_index,");
  fs::remove_all(folder);
}

}  // namespace
}  // namespace ostrel
