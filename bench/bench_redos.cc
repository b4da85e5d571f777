// The worst a hostile request can cost: every stored slot against 1 MB subjects made of one
// repeated unit (the shapes that make backtracking patterns slow), JIT-compiled as a run
// compiles them, without the literal gate (which would skip most of them).
//
//   build/bench/bench_redos --benchmark_counters_tabular=true
//
// "s_per_MB" is the CPU time of one test of that slot on that subject, per megabyte.

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <string_view>

#include "rules/new_des.h"
#include "rules/pcre2_handles.h"
#include "rules/rule_slots.h"

namespace ostrel {
namespace {

constexpr std::array<std::string_view, 16> kUnits = {
    "%", "%%",  "%25", "'",       "%27", "a",  " ",   "+",
    "<", "../", "((",  "1=1 or ", "${",  "/*", "\\x", "&#",
};

void BM_HostileSubject(benchmark::State& state) {
  const std::size_t slot = static_cast<std::size_t>(state.range(0));
  const std::string_view unit = kUnits[static_cast<std::size_t>(state.range(1))];
  const pcre2::CodePtr code = pcre2::Compile(DecryptHexText(StoredRuleSlots()[slot], kRuleKeyText));
  const bool jit = pcre2::JitCompile(code.get());
  const pcre2::MatchDataPtr data = pcre2::MakeMatchData();
  const pcre2::MatchContextPtr context = pcre2::MakeLimitedMatchContext();
  const pcre2::JitStackPtr stack = pcre2::AssignJitStack(context.get());
  std::string subject = "get /?q=";
  while (subject.size() < (1u << 20)) subject += unit;
  subject += " http/1.1";
  int limits = 0;
  for (auto _ : state) {
    const pcre2::Outcome outcome =
        pcre2::MatchOnce(code.get(), jit, subject, data.get(), context.get());
    limits += outcome == pcre2::Outcome::kLimit ? 1 : 0;
    benchmark::DoNotOptimize(outcome);
  }
  state.SetLabel("slot " + std::to_string(slot + 1) + " \"" + std::string(unit) + "\"");
  state.counters["s_per_MB"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(subject.size()) / 1048576.0,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["limits"] = limits;
}

void AllSlotsAndUnits(benchmark::internal::Benchmark* bench) {
  for (std::size_t slot = 0; slot < StoredRuleSlots().size(); ++slot) {
    for (std::size_t unit = 0; unit < kUnits.size(); ++unit) {
      bench->Args({static_cast<long>(slot), static_cast<long>(unit)});
    }
  }
}

BENCHMARK(BM_HostileSubject)->Apply(AllSlotsAndUnits)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ostrel

BENCHMARK_MAIN();
