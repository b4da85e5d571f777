#include "engine/run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/line_source.h"
#include "engine/run_tuning.h"
#include "ipdb/gbk.h"
#include "ipdb/qqwry.h"
#include "rules/new_des.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// --- The numbers and texts of the progress report --------------------------------------

struct PercentCase {
  std::int64_t done;
  std::int64_t total;
  int percent;
};

class PercentDoneTest : public testing::TestWithParam<PercentCase> {};

TEST_P(PercentDoneTest, RoundsToTwoPlacesThenTruncates) {
  const PercentCase& c = GetParam();
  EXPECT_EQ(PercentDone(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

INSTANTIATE_TEST_SUITE_P(
    KnownAnswers, PercentDoneTest,
    testing::Values(PercentCase{29, 100, 28}, PercentCase{58, 100, 57}, PercentCase{57, 100, 57},
                    PercentCase{120, 400, 30}, PercentCase{1, 8, 12}, PercentCase{1, 3, 33},
                    PercentCase{2, 3, 67}, PercentCase{100, 100, 100}, PercentCase{1, 1, 100},
                    PercentCase{0, 10, 0},
                    // No total (standard input, an empty file) must not divide by zero.
                    PercentCase{0, 0, 0}, PercentCase{7, 0, 0},
                    // A file that grew after it was counted.
                    PercentCase{150, 100, 150}));

TEST(StatusPanelTest, TextsMatchTheWindowsStatusBar) {
  EXPECT_EQ(StatusPanel1Text(120, 400, 3), " 比对【 120 】行，进度：30%， 检中 3 个。");
  EXPECT_EQ(StatusPanel1Text(29, 100, 0), " 比对【 29 】行，进度：28%， 检中 0 个。");
  EXPECT_EQ(StatusPanel2Text("u_ex261201.log", 2, 3), "当前文件：u_ex261201.log (2/3)");
  EXPECT_EQ(StatusPanel2Text("", 1, 1), "当前文件： (1/1)");
}

TEST(ResultHeaderTest, HeadersAreTheWindowsTexts) {
  EXPECT_EQ(ResultHeader(LogType::kIis),
            "日期 时间 服务器IP 请求的方法 URI资源 URI查询 端口号 用户名 客户端IP 物理地址 "
            "协议版本 客户端浏览器 Cookie 引用站点 主机头 协议状态 协议子状态 Win32状态 "
            "发送字节数 接收字节数 所用时长");
  EXPECT_EQ(ResultHeader(LogType::kTomcat),
            "客户端IP 物理地址 浏览者标识 远程用户名 时间 时区 方法、资源Url、协议 协议状态码 "
            "字节数 请求的URL 浏览器信息");
  EXPECT_EQ(ResultHeader(LogType::kApache), ResultHeader(LogType::kTomcat));
}

TEST(DefaultResultFilePathTest, IsOneLogBesideTheExecutable) {
  const fs::path path = DefaultResultFilePath();
  EXPECT_EQ(path.filename(), "1.log");
  EXPECT_TRUE(path.is_absolute());
}

// --- Runs over files made by the tests --------------------------------------------------

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Records what the run reports, and checks the order of the calls.
class RecordingSink : public RunSink {
 public:
  void FileStarted(std::size_t index, std::size_t count, const fs::path& path) override {
    events.push_back("start " + std::to_string(index) + "/" + std::to_string(count) + " " +
                     path.filename().string());
    last_line = 0;
  }
  void LineProgress(std::uint64_t line_number, std::uint64_t line_total,
                    std::uint64_t hit_count) override {
    EXPECT_GT(line_number, last_line);
    last_line = line_number;
    last_total = line_total;
    last_hits = hit_count;
    ++progress_calls;
    if (stop_after_progress != nullptr) stop_after_progress->request_stop();
  }
  void FileFinished(std::size_t index) override {
    events.push_back("done " + std::to_string(index) + " " + std::to_string(last_line) + "/" +
                     std::to_string(last_total));
  }

  std::vector<std::string> events;
  std::uint64_t last_line = 0;
  std::uint64_t last_total = 0;
  std::uint64_t last_hits = 0;
  int progress_calls = 0;
  std::stop_source* stop_after_progress = nullptr;
};

// Enciphers plain patterns as rule slots are stored.
std::vector<std::string> Encipher(const std::vector<std::string>& patterns) {
  std::vector<std::string> slots;
  for (const std::string& pattern : patterns) {
    slots.push_back(EncryptToHexText(pattern, kRuleKeyText));
  }
  return slots;
}

class RunTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("ostrel_run_test_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    SetPatterns({"union\\s+select", "<script", "\\.\\./", "jndi:"});
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void SetPatterns(const std::vector<std::string>& patterns) {
    slot_texts_ = Encipher(patterns);
    slot_views_.assign(slot_texts_.begin(), slot_texts_.end());
  }

  fs::path File(std::string_view name, std::string_view bytes) {
    const fs::path path = dir_ / name;
    WriteBytes(path, bytes);
    return path;
  }

  RunSummary Run(const std::vector<fs::path>& inputs, const RunOptions& options,
                 std::size_t block_bytes = std::size_t{1} << 20, std::stop_token stop = {}) {
    RunTuning tuning;
    tuning.cipher_slots = slot_views_;
    tuning.block_bytes = block_bytes;
    return RunAnalysisTuned(inputs, result_, options, ipdb_, sink_, std::move(stop), tuning);
  }

  static RunOptions Apache(unsigned jobs = 1) {
    RunOptions options;
    options.log_type = LogType::kApache;
    options.jobs = jobs;
    return options;
  }

  // The result file without its header line.
  std::string Hits() const {
    const std::string all = ReadBytes(result_);
    return all.substr(all.find("\r\n") + 2);
  }

  // The location every address gets from a reader without a database.
  std::string Location() const { return "IP库不存在"; }

  void SetResult(fs::path path) { result_ = std::move(path); }

  fs::path dir_;
  fs::path result_;
  TQQWry ipdb_ = TQQWry::FromBytes({});
  RecordingSink sink_;
  std::vector<std::string> slot_texts_;
  std::vector<std::string_view> slot_views_;
};

std::string ApacheLine(std::string_view ip, std::string_view url, int status = 200) {
  return std::string(ip) + " - - [01/Dec/2026:10:00:00 +0800] \"GET " + std::string(url) +
         " HTTP/1.1\" " + std::to_string(status) + " 512 \"-\" \"curl/8.5.0\"";
}

std::string ApacheHit(std::string_view ip, std::string_view location, std::string_view url,
                      int status = 200) {
  return std::string(ip) + " " + std::string(location) +
         " - - [01/dec/2026:10:00:00 +0800] \"get " + std::string(url) + " http/1.1\" " +
         std::to_string(status) + " 512 \"-\" \"curl/8.5.0\"\r\n";
}

class RunFileTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    SetResult(dir_ / "1.log");
  }
};

TEST_F(RunFileTest, WritesHeaderAndHitsInInputAndLineOrderWithCrLf) {
  const fs::path a = File("a.log", ApacheLine("8.8.8.8", "/?q=union select 1") + "\n" +
                                       ApacheLine("8.8.8.8", "/index.html") + "\n" +
                                       ApacheLine("1.1.1.1", "/?q=<script>") + "\n");
  const fs::path b = File("b.log", ApacheLine("2.2.2.2", "/../../etc/passwd") + "\n");
  const RunSummary summary = Run({a, b}, Apache());
  const std::string all = ReadBytes(result_);
  EXPECT_EQ(all.substr(0, all.find("\r\n")), ResultHeader(LogType::kApache));
  EXPECT_EQ(Hits(), ApacheHit("8.8.8.8", Location(), "/?q=union select 1") +
                        ApacheHit("1.1.1.1", Location(), "/?q=<script>") +
                        ApacheHit("2.2.2.2", Location(), "/../../etc/passwd"));
  EXPECT_EQ(summary.files, 2u);
  EXPECT_EQ(summary.lines, 4u);
  EXPECT_EQ(summary.hits, 3u);
  EXPECT_FALSE(summary.stopped);
  EXPECT_EQ(sink_.events, (std::vector<std::string>{"start 0/2 a.log", "done 0 3/3",
                                                    "start 1/2 b.log", "done 1 1/1"}));
  EXPECT_EQ(sink_.last_hits, 3u);
  // No byte-order mark.
  EXPECT_NE(all.substr(0, 3), "\xEF\xBB\xBF");
}

TEST_F(RunFileTest, RunWithoutHitsLeavesTheHeaderOnlyAndEmptyFilesReportNoProgress) {
  const fs::path empty = File("empty.log", "");
  const fs::path clean = File("clean.log", ApacheLine("8.8.8.8", "/index.html") + "\n");
  const RunSummary summary = Run({empty, clean}, Apache());
  EXPECT_EQ(ReadBytes(result_), std::string(ResultHeader(LogType::kApache)) + "\r\n");
  EXPECT_EQ(summary.hits, 0u);
  EXPECT_EQ(summary.files, 2u);
  EXPECT_EQ(sink_.progress_calls, 1);
}

TEST_F(RunFileTest, ReplacesAnOlderResultFile) {
  WriteBytes(result_, std::string(100000, 'x'));
  Run({File("a.log", "")}, Apache());
  EXPECT_EQ(ReadBytes(result_), std::string(ResultHeader(LogType::kApache)) + "\r\n");
}

TEST_F(RunFileTest, GbkResultEncodesHeaderAndHits) {
  RunOptions options = Apache();
  options.encoding = ResultEncoding::kGbk;
  Run({File("a.log", ApacheLine("8.8.8.8", "/?q=jndi:ldap") + "\n")}, options);
  EXPECT_EQ(ReadBytes(result_), Utf8ToGbk(std::string(ResultHeader(LogType::kApache)) + "\r\n" +
                                          ApacheHit("8.8.8.8", Location(), "/?q=jndi:ldap")));
}

// How lines end: LF or CR LF, a lone CR is dropped, 0x1A ends the file, a last line
// without LF counts when it is not empty. The counting pass must agree with the analysis.
struct LineEndCase {
  const char* name;
  std::string bytes;
  std::uint64_t lines;
  std::string hits;  // the hit lines' request URLs, in order
};

class LineEndTest : public RunTest, public testing::WithParamInterface<LineEndCase> {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    SetResult(dir_ / "1.log");
  }
};

TEST_P(LineEndTest, CountingAndAnalysingAgree) {
  const LineEndCase& c = GetParam();
  const fs::path input = File("in.log", c.bytes);
  EXPECT_EQ(CountFileLines(input), c.lines);
  const RunSummary summary = Run({input}, Apache());
  EXPECT_EQ(summary.lines, c.lines);
  if (c.lines > 0) {
    EXPECT_EQ(sink_.last_line, sink_.last_total);
  }
  std::string urls;
  std::istringstream hits(Hits());
  for (std::string line; std::getline(hits, line);) {
    const auto begin = line.find("\"get ") + 5;
    urls += line.substr(begin, line.find(" http/1.1") - begin) + ";";
  }
  EXPECT_EQ(urls, c.hits);
}

const std::string kHit = ApacheLine("8.8.8.8", "/?a=<script>");
const std::string kHit2 = ApacheLine("8.8.8.8", "/?b=<script>");

INSTANTIATE_TEST_SUITE_P(
    Bytes, LineEndTest,
    testing::Values(
        LineEndCase{"Empty", "", 0, ""}, LineEndCase{"OneLf", kHit + "\n", 1, "/?a=<script>;"},
        LineEndCase{"NoFinalLf", kHit + "\n" + kHit2, 2, "/?a=<script>;/?b=<script>;"},
        LineEndCase{"CrLf", kHit + "\r\n" + kHit2 + "\r\n", 2, "/?a=<script>;/?b=<script>;"},
        LineEndCase{"EmptyLinesCount", "\n\n" + kHit + "\n\n", 4, "/?a=<script>;"},
        LineEndCase{"LoneCrIsDropped", ApacheLine("8.8.8.8", "/?a=<scr\ript>") + "\n", 1,
                    "/?a=<script>;"},
        LineEndCase{"LoneCrTailIsALine", kHit + "\n\r", 2, "/?a=<script>;"},
        LineEndCase{"CtrlZEndsTheFile", kHit + "\n\x1A" + kHit2 + "\n", 1, "/?a=<script>;"},
        LineEndCase{"CtrlZInsideALine", kHit + "\x1A" + "junk\n" + kHit2, 1, "/?a=<script>;"},
        LineEndCase{"CtrlZFirst", "\x1A" + kHit, 0, ""},
        LineEndCase{"NulIsJustAByte", ApacheLine("8.8.8.8", "/?a=<script>") + "\0x\n"s, 1,
                    "/?a=<script>;"}),
    [](const testing::TestParamInfo<LineEndCase>& info) { return info.param.name; });

TEST_F(RunFileTest, GbkInputLineIsDecodedAndInvalidBytesBecomeReplacementCharacters) {
  // "/?q=<script>中文" in GBK, then a byte valid in neither encoding (0xFF).
  const std::string gbk_url = "/?q=<script>\xD6\xD0\xCE\xC4";
  const fs::path input = File("gbk.log", ApacheLine("8.8.8.8", gbk_url) + "\n" +
                                             ApacheLine("8.8.8.8", "/?q=<script>\xFF") + "\n");
  Run({input}, Apache());
  EXPECT_EQ(Hits(), ApacheHit("8.8.8.8", Location(), "/?q=<script>中文") +
                        ApacheHit("8.8.8.8", Location(), "/?q=<script>\xEF\xBF\xBD"));
}

TEST_F(RunFileTest, HugeLinesAndNulBytesDoNotCrash) {
  std::string huge = ApacheLine("8.8.8.8", "/?q=" + std::string(10 << 20, 'a') + "<script>");
  std::string binary(4096, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 131);
  // Line ends and the end-of-file byte would change the line count; every other byte stays.
  std::replace(binary.begin(), binary.end(), '\n', '\0');
  std::replace(binary.begin(), binary.end(), '\x1A', '\0');
  const fs::path input = File("huge.log", huge + "\n" + binary + "\n" + kHit + "\n");
  const RunSummary summary = Run({input}, Apache(), 64 << 10);
  EXPECT_EQ(summary.hits, 2u);
  EXPECT_EQ(summary.lines, CountFileLines(input));
}

// --- Errors that stop the run -------------------------------------------------------------

TEST_F(RunFileTest, UnreadableFileStopsTheRunAfterWritingEarlierHits) {
  const fs::path good = File("good.log", kHit + "\n");
  const fs::path missing = dir_ / "missing.log";
  try {
    Run({good, missing, good}, Apache());
    FAIL() << "no error";
  } catch (const RunError& error) {
    EXPECT_EQ(error.file(), missing);
    EXPECT_EQ(error.line(), 0u);
    EXPECT_NE(std::string(error.what()).find(missing.string()), std::string::npos);
  }
  EXPECT_EQ(Hits(), ApacheHit("8.8.8.8", Location(), "/?a=<script>"));
  // The next run can rewrite the file.
  Run({good}, Apache());
  EXPECT_EQ(Hits(), ApacheHit("8.8.8.8", Location(), "/?a=<script>"));
}

TEST_F(RunFileTest, FolderAsInputIsAnError) { EXPECT_THROW(Run({dir_}, Apache()), RunError); }

std::string IisLine(std::string_view query, std::string_view status = "200") {
  return "2026-12-01 03:00:23 172.16.20.11 GET /a.aspx " + std::string(query) +
         " 80 - 8.8.8.8 Mozilla/5.0 " + std::string(status) + " 0 0 100 200 15";
}

// Every error case, run with one job and with several jobs over small blocks: the result
// file and the error must be the same byte for byte.
struct ErrorCase {
  const char* name;
  LogType type;
  std::vector<std::string> patterns;
  std::string bytes;
  std::uint64_t error_line;  // 0: no error
};

class ErrorTest : public RunTest, public testing::WithParamInterface<ErrorCase> {};

std::string ManyLines(LogType type, int count, int bad_at, std::string_view bad) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    if (i == bad_at) {
      text += bad;
    } else if (type == LogType::kIis) {
      text += IisLine(i % 7 == 0 ? "x=<script>" + std::to_string(i) : "-");
    } else {
      text += ApacheLine("8.8.8.8", i % 7 == 0 ? "/?<script>" + std::to_string(i) : "/");
    }
    text += i % 3 == 0 ? "\r\n" : "\n";
  }
  return text;
}

TEST_P(ErrorTest, ErrorNamesTheLineAndEveryJobCountWritesTheSame) {
  const ErrorCase& c = GetParam();
  if (!c.patterns.empty()) SetPatterns(c.patterns);
  const fs::path input = File("in.log", c.bytes);
  RunOptions options;
  options.log_type = c.type;
  std::string reference;
  for (const unsigned jobs : {1u, 2u, 4u}) {
    for (const std::size_t block : {std::size_t{1} << 20, std::size_t{4096}}) {
      SetResult(dir_ / ("1." + std::to_string(jobs) + "." + std::to_string(block) + ".log"));
      options.jobs = jobs;
      std::uint64_t line = 0;
      std::string message;
      try {
        Run({input}, options, block, {});
      } catch (const RunError& error) {
        line = error.line();
        message = error.what();
        EXPECT_EQ(error.file(), input);
      }
      EXPECT_EQ(line, c.error_line) << "jobs " << jobs << " block " << block;
      if (c.error_line != 0) {
        EXPECT_NE(message.find(input.string()), std::string::npos) << message;
        EXPECT_NE(message.find("第 " + std::to_string(c.error_line) + " 行"), std::string::npos)
            << message;
      }
      const std::string written = ReadBytes(result_);
      if (reference.empty()) {
        reference = written;
        // Hits before the failing line are in, none after it.
        const std::size_t expected_hits = (c.error_line == 0 ? 3000 : c.error_line - 1) / 7;
        EXPECT_EQ(static_cast<std::size_t>(std::count(written.begin(), written.end(), '\n')),
                  expected_hits + 1);
      } else {
        EXPECT_EQ(written, reference) << "jobs " << jobs << " block " << block;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorTest,
    testing::Values(
        ErrorCase{"NoError", LogType::kApache, {}, ManyLines(LogType::kApache, 3000, 0, ""), 0},
        ErrorCase{"IisNoError", LogType::kIis, {}, ManyLines(LogType::kIis, 3000, 0, ""), 0},
        ErrorCase{"TooShortIisLine",
                  LogType::kIis,
                  {},
                  ManyLines(LogType::kIis, 3000, 2345, "2026-12-01 03:00:23 short line"),
                  2345},
        ErrorCase{
            "EmptyIisLine", LogType::kIis, {}, ManyLines(LogType::kIis, 3000, 1500, ""), 1500},
        ErrorCase{"NonNumericStatus",
                  LogType::kIis,
                  {},
                  ManyLines(LogType::kIis, 3000, 2000, IisLine("-", "abc")),
                  2000},
        ErrorCase{
            "NonNumericStatusApache",
            LogType::kApache,
            {},
            ManyLines(LogType::kApache, 3000, 999, "8.8.8.8 - - [x] \"GET / HTTP/1.1\" xyz 5"),
            999},
        // The first line that reaches the broken second slot names the error: lines that
        // the first slot matches never test it.
        ErrorCase{"RuleFailsToCompile",
                  LogType::kApache,
                  {"<script", "(unclosed"},
                  ManyLines(LogType::kApache, 3000, 0, ""),
                  1}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

TEST_F(RunFileTest, RuleCompileErrorNamesFileAndLine) {
  SetPatterns({"(unclosed"});
  const fs::path input = File("in.log", "# comment\n" + kHit + "\n");
  try {
    Run({input}, Apache());
    FAIL() << "no error";
  } catch (const RunError& error) {
    EXPECT_EQ(error.line(), 2u);
    EXPECT_NE(std::string(error.what()).find("offset"), std::string::npos) << error.what();
  }
  EXPECT_EQ(Hits(), "");
}

TEST_F(RunTest, ResultInMissingFolderIsAnError) {
  SetResult(dir_ / "no" / "such" / "1.log");
  try {
    Run({File("a.log", kHit + "\n")}, Apache());
    FAIL() << "no error";
  } catch (const RunError& error) {
    EXPECT_EQ(error.file(), dir_ / "no" / "such" / "1.log");
    EXPECT_NE(std::string(error.what()).find("1.log"), std::string::npos);
  }
}

TEST_F(RunTest, FullDiskIsAnErrorNotASuccess) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  SetResult("/dev/full");
  EXPECT_THROW(Run({File("a.log", kHit + "\n")}, Apache()), RunError);
  // Also when the hits alone overflow the buffer in the middle of the run.
  std::string many;
  for (int i = 0; i < 20000; ++i) many += kHit + "\n";
  EXPECT_THROW(Run({File("b.log", many)}, Apache(4), 4096), RunError);
}

// --- Stopping ----------------------------------------------------------------------------

TEST_F(RunFileTest, ASinkThatThrowsStillLeavesTheHitsOnDisk) {
  class ThrowingSink : public RunSink {
    void LineProgress(std::uint64_t, std::uint64_t, std::uint64_t) override {
      throw std::runtime_error("window gone");
    }
  } sink;
  RunTuning tuning;
  tuning.cipher_slots = slot_views_;
  EXPECT_THROW(
      RunAnalysisTuned({File("a.log", kHit + "\n")}, result_, Apache(2), ipdb_, sink, {}, tuning),
      std::runtime_error);
  EXPECT_EQ(Hits(), ApacheHit("8.8.8.8", Location(), "/?a=<script>"));
}

TEST_F(RunFileTest, StopBeforeTheStartWritesTheHeaderOnly) {
  std::stop_source stop;
  stop.request_stop();
  const RunSummary summary = Run({File("a.log", kHit + "\n")}, Apache(), 1 << 20, stop.get_token());
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.files, 0u);
  EXPECT_EQ(ReadBytes(result_), std::string(ResultHeader(LogType::kApache)) + "\r\n");
}

TEST_F(RunFileTest, StopDuringTheRunKeepsTheHitsOfTheLinesDone) {
  const std::string text = ManyLines(LogType::kApache, 20000, 0, "");
  const fs::path input = File("a.log", text);
  for (const unsigned jobs : {1u, 3u}) {
    std::stop_source stop;
    sink_.stop_after_progress = &stop;
    const RunSummary summary = Run({input, input}, Apache(jobs), 4096, stop.get_token());
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.files, 0u);
    EXPECT_LT(summary.lines, 20000u);
    // The hits written are exactly those of the first summary.lines lines.
    EXPECT_EQ(summary.hits, summary.lines / 7);
    const std::string hits = Hits();
    EXPECT_EQ(static_cast<std::uint64_t>(std::count(hits.begin(), hits.end(), '\n')), summary.hits);
  }
}

}  // namespace
}  // namespace ostrel
