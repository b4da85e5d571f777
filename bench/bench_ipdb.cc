// IP database lookups per second over the real QQWry.dat: uncached (every lookup searches
// the index, reads the record and decodes it) and with an address-text cache in front, on
// random addresses and on a few repeated ones (a log with few clients). Fixed seed.
//
//   build/bench/bench_ipdb [--ipdb PATH] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ipdb/ip2local.h"
#include "ipdb/qqwry.h"

namespace {

using ostrel::TQQWry;

std::vector<std::string> RandomAddresses(size_t count) {
  std::mt19937 random(20240117);
  std::vector<std::string> addresses;
  addresses.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = random();
    addresses.push_back(std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 255) + "." +
                        std::to_string(v >> 8 & 255) + "." + std::to_string(v & 255));
  }
  return addresses;
}

// 64 distinct addresses, repeated: most lines of a log come from a few clients.
std::vector<std::string> RepeatedAddresses() {
  const std::vector<std::string> distinct = RandomAddresses(64);
  std::vector<std::string> addresses;
  addresses.reserve(1 << 16);
  for (int i = 0; i < 1 << 16; ++i) addresses.push_back(distinct[(i * 7) % 64]);
  return addresses;
}

struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};
using Cache = std::unordered_map<std::string, std::string, TextHash, std::equal_to<>>;

void RawLookup(benchmark::State& state, const TQQWry& reader,
               const std::vector<std::string>& addresses) {
  size_t i = 0;
  for (auto _ : state) {
    const auto id = reader.GetIPRecordID(addresses[i]);
    benchmark::DoNotOptimize(reader.GetIPMsg(id.value_or(0)));
    if (++i == addresses.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void UncachedLookup(benchmark::State& state, const TQQWry& reader,
                    const std::vector<std::string>& addresses) {
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ostrel::IP2Local(reader, addresses[i]));
    if (++i == addresses.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// The cache starts empty on every run, so its misses (first sight of an address) count.
void CachedLookup(benchmark::State& state, const TQQWry& reader,
                  const std::vector<std::string>& addresses) {
  Cache cache;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& address = addresses[i];
    auto found = cache.find(std::string_view(address));
    if (found == cache.end()) {
      found = cache.emplace(address, ostrel::IP2Local(reader, address)).first;
    }
    benchmark::DoNotOptimize(found->second.data());
    if (++i == addresses.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["cached"] = static_cast<double>(cache.size());
}

std::string FindDatabase(int& argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--ipdb") == 0) {
      std::string path = argv[i + 1];
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      return path;
    }
  }
  for (const std::filesystem::path& path :
       {std::filesystem::path(OSTREL_BINARY_DIR) / "bin" / "QQWry.dat",
        std::filesystem::path(OSTREL_SOURCE_DIR) / ".cache" / "QQWry.dat"}) {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) return path.string();
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = FindDatabase(argc, argv);
  const TQQWry reader(path);
  if (!reader.HasDatabase()) {
    std::printf("bench_ipdb: skipped, no usable QQWry.dat (%s); run scripts/fetch-ipdb\n",
                path.empty() ? "not found" : path.c_str());
    return 0;
  }
  const std::vector<std::string> random_addresses = RandomAddresses(1 << 18);
  const std::vector<std::string> repeated_addresses = RepeatedAddresses();
  const struct {
    const char* name;
    void (*run)(benchmark::State&, const TQQWry&, const std::vector<std::string>&);
  } kinds[] = {{"raw_gbk", RawLookup}, {"uncached", UncachedLookup}, {"cached", CachedLookup}};
  for (const auto& kind : kinds) {
    for (const auto& [set, addresses] :
         {std::pair{"random", &random_addresses}, std::pair{"repeated", &repeated_addresses}}) {
      benchmark::RegisterBenchmark(
          (std::string(kind.name) + "/" + set).c_str(),
          [&reader, run = kind.run, addresses = addresses](benchmark::State& state) {
            run(state, reader, *addresses);
          });
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
