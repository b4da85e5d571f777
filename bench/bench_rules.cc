// The cost of one rule test: deciphering and compiling the slot on every test (the naive
// way) against the cached, JIT-compiled Matcher, over the same request subjects and eight
// WAF-like patterns enciphered here with the rule key.
//
//   build/bench/bench_rules --benchmark_counters_tabular=true
//
// "per_test" is the time of one pattern test (one slot against one subject).

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "rules/is_match.h"
#include "rules/matcher.h"
#include "rules/new_des.h"

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

// The cached matcher after its slots are compiled (the steady state of a run).
void BM_CachedMatcher(benchmark::State& state) {
  const std::vector<std::string> hex = EncipheredSlots();
  const std::vector<std::string_view> slots(hex.begin(), hex.end());
  Matcher matcher(slots);
  for (auto _ : state) {
    int hits = 0;
    for (const std::string_view subject : kSubjects) {
      for (std::size_t slot = 0; slot < slots.size(); ++slot) {
        hits += matcher.SlotMatches(slot, subject) ? 1 : 0;
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  SetPerTest(state);
}
BENCHMARK(BM_CachedMatcher);

// The one-off cost per run and thread: deciphering and JIT-compiling all eight slots.
void BM_MatcherFirstUseOfAllSlots(benchmark::State& state) {
  const std::vector<std::string> hex = EncipheredSlots();
  const std::vector<std::string_view> slots(hex.begin(), hex.end());
  for (auto _ : state) {
    Matcher matcher(slots);
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
      benchmark::DoNotOptimize(matcher.SlotMatches(slot, kSubjects[0]));
    }
  }
}
BENCHMARK(BM_MatcherFirstUseOfAllSlots);

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
