#include "engine/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include "engine/line_source.h"
#include "engine/run_tuning.h"
#include "engine/text_decode.h"
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
    tuning.prepare_rules_bytes = 0;  // workers compile the slots ahead on every file
    RunOutputs outputs(result_);
    outputs.sinks = hit_sinks_;
    outputs.other_files = other_files_;
    return RunAnalysisTuned(inputs, outputs, options, ipdb_, sink_, std::move(stop), tuning);
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
  std::vector<HitSink*> hit_sinks_;
  std::vector<fs::path> other_files_;
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

// The counting pass's one-pass count of LFs before the first 0x1A, across the sizes where
// its 32- and 16-byte blocks and its rounds of 255 blocks begin and end.
TEST(CountFeedsBeforeEndTest, AgreesWithCountingByteByByte) {
  for (const std::size_t size : {0, 1, 15, 16, 17, 31, 32, 33, 64, 8159, 8160, 8161, 8192, 16421}) {
    std::string text(size, 'a');
    for (std::size_t i = 0; i < size; i += 1 + i % 7) text[i] = '\n';
    for (const std::size_t end : {size, std::size_t{0}, size / 2, size > 0 ? size - 1 : 0}) {
      std::string with_end = text;
      if (end < size) with_end[end] = kEndOfFileByte;
      const FeedCount counted = CountFeedsBeforeEnd(with_end);
      const std::size_t stop = std::min(end, size);
      EXPECT_EQ(counted.feeds, static_cast<std::uint64_t>(
                                   std::count(with_end.begin(), with_end.begin() + stop, '\n')))
          << size << " " << end;
      EXPECT_EQ(counted.end_byte, end < size ? end : std::string_view::npos) << size << " " << end;
      EXPECT_EQ(CountLineFeeds(with_end),
                static_cast<std::uint64_t>(std::count(with_end.begin(), with_end.end(), '\n')));
    }
  }
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

// --- Hits as values, counts, and what the run reads -----------------------------------

// Keeps every hit it is given, and the header.
class RecordingHitSink : public HitSink {
 public:
  struct Kept {
    std::size_t file_index;
    std::uint64_t line_number;
    std::string line, client, location, subject, status, method, time;
    std::size_t slot;
    LineLayout layout;
  };
  void Header(std::string_view header) override { headers.emplace_back(header); }
  void Hit(const HitRecord& hit) override {
    hits.push_back({hit.file_index, hit.line_number, std::string(hit.line), std::string(hit.client),
                    std::string(hit.location), std::string(hit.subject), std::string(hit.status),
                    std::string(hit.method), std::string(hit.time), hit.slot, hit.layout});
  }
  void Finish(const RunSummary&) override { ++finished; }
  std::vector<std::string> headers;
  std::vector<Kept> hits;
  int finished = 0;
};

RunOptions Auto(bool status_200_only = true) {
  RunOptions options;
  options.log_type = LogType::kAuto;
  options.status_200_only = status_200_only;
  options.jobs = 1;
  return options;
}

TEST_F(RunFileTest, SinksGetEveryHitAsAValueInInputOrder) {
  RecordingHitSink recorder;
  hit_sinks_ = {&recorder};
  const fs::path a = File("a.log", ApacheLine("8.8.8.8", "/x") + "\n" +
                                       "10.0.0.1 - - [02/Dec/2026:10:00:00 +0800] \"POST "
                                       "/?q=<script> HTTP/2.0\" 200 5\n");
  const fs::path b = File("b.log",
                          "#Fields: date time c-ip cs-method cs-uri-stem cs-uri-query sc-status\n"
                          "2026-12-02 10:00:00 9.9.9.9 GET /f ../../etc 200\n");
  const RunSummary summary = Run({a, b}, Auto());
  ASSERT_EQ(recorder.hits.size(), 2u);
  EXPECT_EQ(recorder.headers,
            std::vector<std::string>{std::string(ResultHeader(LogType::kApache))});
  EXPECT_EQ(recorder.finished, 1);
  const RecordingHitSink::Kept& first = recorder.hits[0];
  EXPECT_EQ(first.file_index, 0u);
  EXPECT_EQ(first.line_number, 2u);
  EXPECT_EQ(first.client, "10.0.0.1");
  EXPECT_EQ(first.location, Location());
  EXPECT_EQ(first.subject, "post /?q=<script> http/2.0");
  EXPECT_EQ(first.method, "post");
  EXPECT_EQ(first.status, "200");
  EXPECT_EQ(first.time, "02/dec/2026:10:00:00 +0800");
  EXPECT_EQ(first.slot, 1u);
  EXPECT_EQ(first.layout, LineLayout::kCommon);
  const RecordingHitSink::Kept& second = recorder.hits[1];
  EXPECT_EQ(second.file_index, 1u);
  EXPECT_EQ(second.line_number, 2u);
  EXPECT_EQ(second.subject, "get /f?../../etc");
  EXPECT_EQ(second.slot, 2u);
  EXPECT_EQ(second.layout, LineLayout::kW3c);
  // The result file holds the same lines, after the first file's header.
  EXPECT_EQ(Hits(), first.line + "\r\n" + second.line + "\r\n");
  ASSERT_EQ(summary.per_file.size(), 2u);
  EXPECT_EQ(summary.per_file[1].layout, LineLayout::kW3c);
  EXPECT_EQ(summary.header_layout, LineLayout::kCombined);  // of the first examined line
}

// Where every line of a log with garbage in it went, in the auto type and in type 2.
TEST_F(RunFileTest, CountsSayWhatWasExaminedAndWhyTheRestWasNot) {
  const fs::path log = fs::path(OSTREL_TEST_DATA) / "auto" / "ncsa-combined.log";
  RunSummary summary = Run({log}, Auto());
  LineCounts c = summary.per_file.at(0).counts;
  EXPECT_EQ(c.read, 42u);
  EXPECT_EQ(c.not_http, 4u);     // TLS and SSH bytes, the HTTP/2 preface, "-"
  EXPECT_EQ(c.wrong_shape, 1u);  // cut off before its closing quote
  EXPECT_EQ(c.examined, 37u);
  EXPECT_EQ(c.examined, c.read - c.skipped());
  EXPECT_EQ(c.static_dropped + c.status_dropped + c.hits <= c.examined, true);
  EXPECT_EQ(summary.per_file[0].likely, LineLayout::kCombined);
  EXPECT_EQ(summary.counts.read, summary.lines);

  RunOptions apache = Apache();
  apache.status_200_only = false;
  summary = Run({log}, apache);
  c = summary.per_file.at(0).counts;
  EXPECT_EQ(c.read, 42u);
  EXPECT_EQ(c.other_protocol, 20u);  // every request of another protocol than /1.1
  EXPECT_EQ(c.comments, 1u);         // the request with "#" in it
  EXPECT_EQ(c.examined + c.skipped(), c.read);
}

// Compressed copies of a text, made with the libraries' own encoders (and gzip by zlib,
// not by the ISA-L decoder the run uses).
std::string Gzip(std::string_view text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Bzip2(std::string_view text) {
  std::string out(text.size() + text.size() / 100 + 600, '\0');
  auto size = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(text.data()),
                                     static_cast<unsigned>(text.size()), 9, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}

std::string Xz(std::string_view text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  std::size_t size = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr,
                                    reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                    reinterpret_cast<uint8_t*>(out.data()), &size, out.size()),
            LZMA_OK);
  out.resize(size);
  return out;
}

std::string Zstd(std::string_view text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  const std::size_t size = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
  EXPECT_FALSE(ZSTD_isError(size));
  out.resize(size);
  return out;
}

// Rotated logs arrive compressed; the result is that of the plain log, whatever the name.
TEST_F(RunFileTest, CompressedInputGivesTheResultOfThePlainText) {
  const std::string text = ManyLines(LogType::kApache, 3000, 0, "");
  const std::string half = text.substr(0, text.find('\n', text.size() / 2) + 1);
  Run({File("plain.log", text)}, Apache());
  const std::string expected = ReadBytes(result_);
  struct Form {
    const char* name;
    std::string bytes;
    const char* compression;
  };
  const Form forms[] = {
      {"a.gz", Gzip(text), "gzip"},
      // Two members, as `cat a.gz b.gz` makes.
      {"two-members.log", Gzip(half) + Gzip(text.substr(half.size())), "gzip"},
      {"a.bz2", Bzip2(text), "bzip2"},
      {"a.xz", Xz(text), "xz"},
      {"a.zst", Zstd(text), "zstd"},
  };
  for (const Form& form : forms) {
    for (const unsigned jobs : {1u, 3u}) {
      const RunSummary summary = Run({File(form.name, form.bytes)}, Apache(jobs), 4096);
      EXPECT_EQ(ReadBytes(result_), expected) << form.name << " jobs " << jobs;
      EXPECT_EQ(summary.per_file.at(0).compression, form.compression);
      EXPECT_EQ(sink_.last_line, sink_.last_total) << "the last progress shows the end";
    }
  }
}

TEST_F(RunFileTest, CutOffCompressedInputIsAnErrorNamingTheFile) {
  const std::string text = ManyLines(LogType::kApache, 3000, 0, "");
  for (const std::string& bytes : {Gzip(text), Xz(text), Zstd(text), Bzip2(text)}) {
    const fs::path cut = File("cut.log", bytes.substr(0, bytes.size() / 2));
    try {
      Run({cut}, Apache());
      ADD_FAILURE() << "no error";
    } catch (const RunError& error) {
      EXPECT_EQ(error.file(), cut);
      EXPECT_NE(std::string(error.what()).find("cut.log"), std::string::npos) << error.what();
    }
  }
}

TEST_F(RunFileTest, BinaryFileIsSkippedAndNamedNotReadAsOneLine) {
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) % 256);
  const fs::path text = File("a.log", kHit + "\n");
  const RunSummary summary = Run({File("image.jpg", binary), text}, Apache());
  EXPECT_TRUE(summary.per_file.at(0).binary);
  EXPECT_EQ(summary.per_file[0].counts.read, 0u);
  EXPECT_FALSE(summary.per_file.at(1).binary);
  EXPECT_EQ(summary.hits, 1u);
  // A log that begins with NUL bytes (truncated under its writer) is still text.
  EXPECT_FALSE(LooksLikeBinary(std::string(3000, '\0') + kHit + "\n"));
}

// --- What a run must not do to its inputs ------------------------------------------------

TEST_F(RunFileTest, OutputThatIsAnInputIsRefusedAndNothingIsTouched) {
  const std::string text = kHit + "\n";
  const fs::path input = File("in.log", text);
  SetResult(input);
  EXPECT_THROW(Run({input}, Apache()), RunError);
  EXPECT_EQ(ReadBytes(input), text);
  // Also through another name, and for a workbook or any other output of the run.
  fs::create_hard_link(input, dir_ / "link.log");
  SetResult(dir_ / "link.log");
  EXPECT_THROW(Run({input}, Apache()), RunError);
  SetResult(dir_ / "1.log");
  other_files_ = {input};
  try {
    Run({input}, Apache());
    ADD_FAILURE() << "no error";
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find("in.log"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(input), text);
  EXPECT_FALSE(fs::exists(dir_ / "1.log"));
}

TEST_F(RunFileTest, SecondRunOnTheSameResultFileIsRefusedAtOnce) {
  const fs::path input = File("a.log", kHit + "\n");
  Run({input}, Apache());
  const std::string first = ReadBytes(result_);
  // Another process's run holds the lock on the result file.
  const int held = ::open(result_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  try {
    Run({input}, Apache());
    ADD_FAILURE() << "no error";
  } catch (const RunError& error) {
    EXPECT_NE(std::string(error.what()).find(result_.string()), std::string::npos);
  }
  ::close(held);
  // The lock is tried before the file is emptied: the first run's hits are intact.
  EXPECT_EQ(ReadBytes(result_), first);
}

TEST_F(RunFileTest, FileThatShrinksWhileReadIsReported) {
  const std::string text = ManyLines(LogType::kApache, 4000, 0, "");
  const fs::path input = File("a.log", text);
  class Truncating : public RunSink {
   public:
    explicit Truncating(fs::path path) : path_(std::move(path)) {}
    void LineProgress(std::uint64_t, std::uint64_t, std::uint64_t) override {
      if (!done_) fs::resize_file(path_, 100);
      done_ = true;
    }

   private:
    fs::path path_;
    bool done_ = false;
  } truncating(input);
  RunTuning tuning;
  tuning.cipher_slots = slot_views_;
  tuning.block_bytes = 4096;
  const RunSummary summary =
      RunAnalysisTuned({input}, RunOutputs(result_), Apache(), ipdb_, truncating, {}, tuning);
  EXPECT_TRUE(summary.per_file.at(0).shrank);
  EXPECT_FALSE(Run({File("b.log", text)}, Apache()).per_file.at(0).shrank);
}

// The location follows every occurrence of the client address, but cannot make a line
// grow without bound; a client field that is no address gets none.
TEST_F(RunFileTest, LocationInsertionIsBoundedAndOnlyAfterAnAddress) {
  SetPatterns({"select"});
  RecordingHitSink recorder;
  hit_sinks_ = {&recorder};
  std::string crowded = "1.2.3.4 - - [x] \"GET /?q=select";
  for (int i = 0; i < 5000; ++i) crowded += "1.2.3.4";  // 7 bytes, 16 inserted after each
  crowded += " HTTP/1.1\" 200 5\n";
  const std::string few = ApacheLine("1.2.3.4", "/?q=select+1.2.3.4") + "\n";
  RunOptions options = Apache();
  const RunSummary summary = Run({File("a.log", crowded + few)}, options);
  ASSERT_EQ(recorder.hits.size(), 2u);
  EXPECT_EQ(recorder.hits[0].location, "");
  EXPECT_EQ(recorder.hits[0].line.size(), crowded.size() - 1);
  EXPECT_EQ(recorder.hits[1].location, Location());
  EXPECT_EQ(summary.counts.unlocated, 1u);

  recorder.hits.clear();
  options.log_type = LogType::kIis;
  Run({File("b.log", "2026-12-01 00:00:00 10.0.0.1 GET /x select 80 - a ua 200 0 0 1\n")}, options);
  ASSERT_EQ(recorder.hits.size(), 1u);
  EXPECT_EQ(recorder.hits[0].line,
            "2026-12-01 00:00:00 10.0.0.1 get /x select 80 - a ua 200 0 0 1");
}

// A line the chosen type misreads gets a hint that names what reads it, never the type
// already chosen.
TEST_F(RunFileTest, StatusErrorHintNamesWhatReadsTheLine) {
  const fs::path input =
      File("a.log", "1.2.3.4 - - [x] \"GET /x HTTP/2.0\" 200 5 \"-\" \"Go-http-client/1.1\"\n");
  try {
    Run({input}, Apache());
    ADD_FAILURE() << "no error";
  } catch (const RunError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("--type auto"), std::string::npos) << message;
    EXPECT_EQ(message.find("请选 Apache/Ngnix"), std::string::npos) << message;
  }
  EXPECT_EQ(Run({input}, Auto()).counts.examined, 1u);
}

}  // namespace
}  // namespace ostrel
