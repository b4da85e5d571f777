// Bulk export of generated result files (fixed seed) to .xlsx: wall time, and peak
// memory from getrusage before and after each run. The runs go from small to large, so
// a peak that does not grow from 100,000 to 1,000,000 rows shows that memory stays
// constant. Also the cell rule alone, per line.
//
// Files go to <build>/bench/export_bench/ and are removed afterwards.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/result_table.h"
#include "export/excel_export.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr std::array kLocations = {"中国 北京", "中国 广东省深圳市", "美国 加利福尼亚州",
                                   "局域网 对方和您在同一内部网", "日本 东京都"};
constexpr std::array kRequests = {
    "\"GET /index.php?id=1%27%20union%20select%201,2,3-- HTTP/1.1\"",
    "\"POST /admin/login.jsp HTTP/1.1\"",
    "\"GET /shop/item.aspx?q=<script>alert(1)</script> HTTP/1.1\"",
    "\"GET /../../etc/passwd HTTP/1.1\"",
    "\"GET /wp-login.php?redirect_to=http://evil.example/ HTTP/1.1\""};
constexpr std::array kAgents = {
    "\"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 Chrome/120.0\"",
    "\"sqlmap/1.7.2#stable (https://sqlmap.org)\"", "\"curl/8.4.0\"",
    "\"Mozilla/5.0 (X11; Linux x86_64; rv:121.0) Gecko/20100101 Firefox/121.0\""};

// A result file of the Apache/Nginx kind: the header line and `hits` hit lines.
fs::path GenerateResultFile(std::uint64_t hits) {
  const fs::path dir = fs::path(OSTREL_BINARY_DIR) / "bench" / "export_bench";
  fs::create_directories(dir);
  const fs::path path = dir / "1.log";
  std::ofstream out(path, std::ios::binary);
  out << "客户端IP 物理地址 浏览者标识 远程用户名 时间 时区 方法、资源Url、协议 协议状态码 "
         "字节数 请求的URL 浏览器信息\r\n";
  std::mt19937_64 random(20261208);
  char address[32];
  for (std::uint64_t i = 0; i < hits; ++i) {
    const auto pick = random();
    std::snprintf(address, sizeof address, "%u.%u.%u.%u", unsigned(pick & 0xFF),
                  unsigned(pick >> 8 & 0xFF), unsigned(pick >> 16 & 0xFF),
                  unsigned(pick >> 24 & 0xFF));
    out << address << ' ' << kLocations[pick % kLocations.size()]
        << " - - [08/Dec/2026:" << (10 + pick % 10) << ":" << (10 + pick % 50) << ":00 +0800] "
        << kRequests[(pick >> 32) % kRequests.size()] << ' ' << (pick % 3 ? 200 : 404) << ' '
        << (pick >> 40 & 0xFFFF) << " \"-\" " << kAgents[(pick >> 48) % kAgents.size()] << "\r\n";
  }
  return path;
}

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

void BM_BulkExport(benchmark::State& state) {
  const auto hits = static_cast<std::uint64_t>(state.range(0));
  const fs::path result = GenerateResultFile(hits);
  const fs::path workbook = WorkbookPathFor(result);
  const double peak_before = PeakRssMiB();
  std::uint64_t rows = 0;
  for (auto _ : state) {
    rows = ExportResultFileToXlsx(result, ResultEncoding::kUtf8, workbook);
  }
  const double peak_after = PeakRssMiB();
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["rows_per_s"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["result_MiB"] = static_cast<double>(fs::file_size(result)) / (1 << 20);
  state.counters["xlsx_MiB"] = static_cast<double>(fs::file_size(workbook)) / (1 << 20);
  state.counters["peak_rss_MiB"] = peak_after;
  state.counters["peak_growth_MiB"] = peak_after - peak_before;
  fs::remove_all(result.parent_path());
}
BENCHMARK(BM_BulkExport)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_SplitResultCells(benchmark::State& state) {
  const std::string line =
      "1.2.3.4 中国 北京 - - [08/Dec/2026:10:00:00 +0800] \"GET /index.php?id=1%27 union "
      "select 1,2,3-- HTTP/1.1\" 200 5120 \"-\" \"Mozilla/5.0 (Windows NT 10.0; Win64; x64)\"";
  std::vector<std::string_view> cells;
  for (auto _ : state) {
    SplitResultCells(line, cells);
    benchmark::DoNotOptimize(cells.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_SplitResultCells);

}  // namespace
}  // namespace ostrel

BENCHMARK_MAIN();
