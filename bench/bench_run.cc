// The analysis run's own parts: the counting pass, cutting blocks into lines, decoding,
// and whole runs over a generated Apache log (one job). Uses
// QQWry.dat beside the programs (bin/) when present, and a fixed rule set of its own so the
// figures do not move with the stored rules.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/line_source.h"
#include "engine/run.h"
#include "engine/run_tuning.h"
#include "engine/text_decode.h"
#include "ipdb/qqwry.h"
#include "rules/new_des.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLogBytes = std::size_t{64} << 20;

// About 64 MiB of Apache combined lines from a few thousand clients, 1 % attacks.
const fs::path& GeneratedLog() {
  static const fs::path path = [] {
    const fs::path file =
        fs::temp_directory_path() / ("ostrel_bench_run_" + std::to_string(::getpid()) + ".log");
    std::mt19937 rng(7);
    std::ofstream out(file, std::ios::binary);
    const std::vector<std::string> urls = {"/",
                                           "/index.html",
                                           "/news/list?page=2",
                                           "/product/view?id=5521",
                                           "/img/logo.png",
                                           "/api/v1/items?page=3&size=20",
                                           "/search?q=nginx+tuning",
                                           "/css/site.css"};
    const std::vector<std::string> attacks = {"/?id=1%20union%20select%201,2", "/?q=<script>",
                                              "/a?f=../../etc/passwd", "/?x=${jndi:ldap://a/b}"};
    std::size_t written = 0;
    while (written < kLogBytes) {
      const bool attack = rng() % 100 == 0;
      const std::string& url = attack ? attacks[rng() % attacks.size()] : urls[rng() % urls.size()];
      const std::string line =
          std::to_string(1 + rng() % 50) + "." + std::to_string(rng() % 8) + ".7." +
          std::to_string(rng() % 10) + " - - [01/Dec/2026:10:00:00 +0800] \"GET " + url +
          " HTTP/1.1\" 200 " + std::to_string(rng() % 90000) +
          " \"https://example.org/\" \"Mozilla/5.0 (Windows NT 10.0; Win64; x64) "
          "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/131.0.0.0 Safari/537.36\"\n";
      out << line;
      written += line.size();
    }
    return file;
  }();
  return path;
}

void BM_CountFileLines(benchmark::State& state) {
  const fs::path& log = GeneratedLog();
  for (auto _ : state) benchmark::DoNotOptimize(CountFileLines(log));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(log)));
}
BENCHMARK(BM_CountFileLines)->Unit(benchmark::kMillisecond);

// Reads `log` (plain or compressed), cuts it into lines and decodes each; gives the lines.
std::size_t ReadAndSplit(const fs::path& log) {
  InputFile file(log);
  LogStream stream(file);
  ChunkReader reader(stream, std::size_t{1} << 20);
  Chunk chunk;
  std::string scratch;
  std::size_t lines = 0;
  while (reader.Next(chunk)) {
    char* p = chunk.data();
    char* const end = p + chunk.size;
    while (p != end) {
      char* feed = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      char* line_end = feed != nullptr ? feed : end;
      benchmark::DoNotOptimize(InputLineText(p, static_cast<std::size_t>(line_end - p), scratch));
      ++lines;
      p = feed != nullptr ? feed + 1 : end;
    }
  }
  return lines;
}

void BM_ReadBlocksAndSplitLines(benchmark::State& state) {
  const fs::path& log = GeneratedLog();
  for (auto _ : state) benchmark::DoNotOptimize(ReadAndSplit(log));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(log)));
}
BENCHMARK(BM_ReadBlocksAndSplitLines)->Unit(benchmark::kMillisecond);

// The same through gzip (`gzip -6`, as logrotate writes it): bytes are the decompressed text.
void BM_ReadGzipBlocksAndSplitLines(benchmark::State& state) {
  const fs::path& log = GeneratedLog();
  const fs::path gz = fs::path(log).concat(".gz");
  if (!fs::exists(gz) &&
      std::system(("gzip -6 -c '" + log.string() + "' > '" + gz.string() + "'").c_str()) != 0) {
    state.SkipWithError("gzip failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(ReadAndSplit(gz));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(log)));
  fs::remove(gz);
}
BENCHMARK(BM_ReadGzipBlocksAndSplitLines)->Unit(benchmark::kMillisecond);

// A whole run, one job: counting, extraction, IP lookups, rules, result file.
void BM_RunApache(benchmark::State& state) {
  const fs::path ipdb_path = fs::path(OSTREL_BINARY_DIR) / "bin" / "QQWry.dat";
  const TQQWry ipdb(ipdb_path.string());
  const std::vector<std::string> patterns = {
      "union[\\s/*]+(all[\\s/*]+)?select|sleep\\s*\\(|information_schema",
      "<script|javascript:|on(error|load)\\s*=|alert\\(",
      "\\.\\./|\\.\\.%2f|/etc/passwd|win\\.ini",
      "[;|`]\\s*(cat|wget|curl|whoami|id)\\b|\\$\\(",
      "\\$\\{jndi:|ognl|classloader|redirect:",
      "eval\\(|base64_decode|shell\\.(php|jsp)|phpmyadmin|wp-login"};
  std::vector<std::string> slots;
  for (const std::string& pattern : patterns)
    slots.push_back(EncryptToHexText(pattern, kRuleKeyText));
  const std::vector<std::string_view> views(slots.begin(), slots.end());
  const fs::path& log = GeneratedLog();
  const fs::path result = fs::temp_directory_path() / "ostrel_bench_run_result.log";
  RunOptions options;
  options.log_type = LogType::kApache;
  options.jobs = 1;
  RunTuning tuning;
  tuning.cipher_slots = views;
  RunSink sink;
  for (auto _ : state) {
    benchmark::DoNotOptimize(RunAnalysisTuned({log}, result, options, ipdb, sink, {}, tuning));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(log)));
  fs::remove(result);
}
BENCHMARK(BM_RunApache)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ostrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove(ostrel::GeneratedLog(), ignored);
  return 0;
}
