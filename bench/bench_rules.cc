// The cost of one rule test: deciphering and compiling the slot on every test (the naive
// way) against the shared, JIT-compiled rule set, over the same request subjects and eight
// WAF-like patterns enciphered here with the rule key; and the stored slots behind their
// literal gate, on ordinary requests and on attacks.
//
//   build/bench/bench_rules --benchmark_counters_tabular=true
//
// "per_test" is the time of one pattern test (one slot against one subject).

#include <benchmark/benchmark.h>

#include <array>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rules/compiled_rule_set.h"
#include "rules/is_match.h"
#include "rules/new_des.h"
#include "rules/rule_slots.h"

namespace ostrel {
namespace {

// Subjects as the extractor delivers them: lower-cased request fields.
constexpr std::array<std::string_view, 8> kSubjects = {
    "get /index.html http/1.1",
    "get /products/list.aspx?category=12&page=3&sort=price_asc http/1.1",
    "post /member/login.php http/1.1",
    "get /static/js/app.min.js?v=20201212 http/1.1",
    "get /news/2020/12/08/%e4%b8%ad%e6%96%87%e6%a0%87%e9%a2%98.html?from=timeline&utm_source="
    "weixin&utm_medium=social&utm_campaign=winter_sale http/1.1",
    "get /search?q=1%27+union+select+1,2,concat(user,0x3a,password)+from+mysql.user--+ "
    "http/1.1",
    "get /download.php?file=../../../../etc/passwd http/1.1",
    "get /api/v2/orders?id=8812&token=5f2b8c1e9d0a4b7f8e6d3c2b1a098765 http/1.1",
};

constexpr std::array<std::string_view, 8> kPatterns = {
    R"(union[\s/*+]+(all[\s/*+]+)?select|select.+from|information_schema|sleep\(\s*\d+\s*\)|benchmark\()",
    R"(<script|javascript:|onerror\s*=|onload\s*=|alert\(|document\.cookie|%3cscript)",
    R"((\.\./|\.\.\\|%2e%2e%2f|%252e%252e)+|/etc/passwd|win\.ini|boot\.ini)",
    R"((;|\||&&|`)\s*(cat|ls|id|whoami|wget|curl|nc|bash|sh)\b|\$\()",
    R"(\.(asp|aspx|php|jsp|jspx)\?.*(cmd|exec|shell|eval)=|eval\(|base64_decode\(|assert\()",
    R"(%\{|\$\{|ognl|redirect:|xwork\.|memberaccess)",
    R"(\.(bak|old|sql|zip|rar|tar\.gz|swp|env)$|/\.git/|/\.svn/|/phpmyadmin|/wp-login\.php|/manager/html)",
    R"(\$\{jndi:(ldap|rmi|dns)|/invoker/|jmxinvokerservlet|/wls-wsat/|/_async/)",
};

std::vector<std::string> EncipheredSlots() {
  std::vector<std::string> slots;
  for (const std::string_view pattern : kPatterns) {
    slots.push_back(EncryptToHexText(pattern, kRuleKeyText));
  }
  return slots;
}

void SetPerTest(benchmark::State& state) {
  const double tests = static_cast<double>(kSubjects.size() * kPatterns.size());
  state.counters["per_test"] = benchmark::Counter(
      tests, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * tests));
}

// What the rule test costs when nothing is cached: decipher, compile, match, release.
void BM_NaiveDecryptAndIsMatch(benchmark::State& state) {
  const std::vector<std::string> slots = EncipheredSlots();
  for (auto _ : state) {
    int hits = 0;
    for (const std::string_view subject : kSubjects) {
      for (const std::string& slot : slots) {
        hits += IsMatch(subject, DecryptHexText(slot, kRuleKeyText)) ? 1 : 0;
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  SetPerTest(state);
}
BENCHMARK(BM_NaiveDecryptAndIsMatch);

// The shared rule set after its slots are compiled (the steady state of a run): every slot
// asked in turn, as a run asks them when none matches.
void BM_CompiledRuleSet(benchmark::State& state) {
  const std::vector<std::string> hex = EncipheredSlots();
  const std::vector<std::string_view> slots(hex.begin(), hex.end());
  std::vector<std::unique_ptr<CompiledRuleSet>> sets;
  std::vector<RuleScratch> scratches;
  for (std::size_t slot = 0; slot < slots.size(); ++slot) {
    sets.push_back(std::make_unique<CompiledRuleSet>(
        std::span<const std::string_view>(slots).subspan(slot, 1), 1));
    scratches.push_back(sets.back()->MakeScratch());
  }
  for (auto _ : state) {
    int hits = 0;
    for (const std::string_view subject : kSubjects) {
      for (std::size_t slot = 0; slot < sets.size(); ++slot) {
        hits += sets[slot]->Test(subject, scratches[slot]).matched() ? 1 : 0;
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  SetPerTest(state);
}
BENCHMARK(BM_CompiledRuleSet);

// The stored slots behind the gate built with the program, per ordinary request (lines of
// the sample the gate was tuned on: its best case) and per attack of the own corpus.
std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

void BM_StoredSet(benchmark::State& state, const std::string& path, bool target_only) {
  std::vector<std::string> subjects = ReadLines(path);
  if (target_only) {
    for (std::string& line : subjects) {
      line = "get " + line.substr(line.rfind('\t') + 1) + " http/1.1";
      for (char& c : line) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
  }
  const CompiledRuleSet rules(StoredRuleSlots(), StoredRuleSlots().size());
  RuleScratch scratch = rules.MakeScratch();
  for (const std::string& subject : subjects) rules.Test(subject, scratch);  // compile all
  int hits = 0;
  for (auto _ : state) {
    for (const std::string& subject : subjects) hits += rules.Test(subject, scratch).matched();
  }
  benchmark::DoNotOptimize(hits);
  state.counters["per_subject"] = benchmark::Counter(
      static_cast<double>(subjects.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK_CAPTURE(BM_StoredSet, ordinary,
                  std::string(OSTREL_SOURCE_DIR "/tools/rule_gate/ordinary_requests.txt"), false);
BENCHMARK_CAPTURE(BM_StoredSet, attacks,
                  std::string(OSTREL_SOURCE_DIR "/tests/data/rules/attacks.tsv"), true);

// What a run pays before its first answer: the stored gate loaded, the slot compiled.
void BM_StoredSetFirstAnswer(benchmark::State& state) {
  for (auto _ : state) {
    const CompiledRuleSet rules(StoredRuleSlots(), StoredRuleSlots().size());
    RuleScratch scratch = rules.MakeScratch();
    benchmark::DoNotOptimize(rules.Test("get /?id=1%27%20or%20%271%27=%271 http/1.1", scratch));
  }
}
BENCHMARK(BM_StoredSetFirstAnswer)->Unit(benchmark::kMillisecond);

// The cipher alone, per slot.
void BM_DecryptHexText(benchmark::State& state) {
  const std::vector<std::string> slots = EncipheredSlots();
  for (auto _ : state) {
    for (const std::string& slot : slots) {
      benchmark::DoNotOptimize(DecryptHexText(slot, kRuleKeyText));
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * slots.size()));
}
BENCHMARK(BM_DecryptHexText);

}  // namespace
}  // namespace ostrel

BENCHMARK_MAIN();
