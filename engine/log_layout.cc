#include "engine/log_layout.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "engine/field_cursor.h"

namespace ostrel {
namespace {

constexpr std::string_view kFieldsDirective = "#fields:";

// The Chinese names of the fixed IIS header, by W3C field name.
constexpr std::pair<std::string_view, std::string_view> kChineseFieldNames[] = {
    {"date", "日期"},
    {"time", "时间"},
    {"s-ip", "服务器IP"},
    {"cs-method", "请求的方法"},
    {"cs-uri-stem", "URI资源"},
    {"cs-uri-query", "URI查询"},
    {"s-port", "端口号"},
    {"cs-username", "用户名"},
    {"c-ip", "客户端IP"},
    {"cs-version", "协议版本"},
    {"cs(user-agent)", "客户端浏览器"},
    {"cs(cookie)", "Cookie"},
    {"cs(referer)", "引用站点"},
    {"cs-host", "主机头"},
    {"cs(host)", "主机头"},
    {"sc-status", "协议状态"},
    {"sc-substatus", "协议子状态"},
    {"sc-win32-status", "Win32状态"},
    {"sc-bytes", "发送字节数"},
    {"cs-bytes", "接收字节数"},
    {"time-taken", "所用时长"},
};

constexpr std::pair<std::string_view, W3cFields::Role> kRoles[] = {
    {"date", W3cFields::kDate},        {"time", W3cFields::kTime},
    {"c-ip", W3cFields::kClient},      {"cs-method", W3cFields::kMethod},
    {"cs-uri-stem", W3cFields::kStem}, {"cs-uri-query", W3cFields::kQuery},
    {"cs-uri", W3cFields::kUri},       {"sc-status", W3cFields::kStatus},
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

bool IsMethodChar(char c) { return (c >= 'a' && c <= 'z') || c == '-' || c == '_'; }

// A date field of a W3C line: yyyy-mm-dd.
bool LooksLikeDate(std::string_view field) {
  if (field.size() != 10 || field[4] != '-' || field[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (field[i] < '0' || field[i] > '9') return false;
  }
  return true;
}

// The position of the quote that closes a request opened at `open`, or npos. A quote with
// an odd number of backslashes before it is escaped (Apache writes a quote inside the
// request as \").
std::size_t ClosingQuote(std::string_view line, std::size_t open) {
  for (std::size_t at = line.find('"', open + 1); at != std::string_view::npos;
       at = line.find('"', at + 1)) {
    std::size_t slashes = 0;
    while (at - slashes > open + 1 && line[at - slashes - 1] == '\\') ++slashes;
    if (slashes % 2 == 0) return at;
  }
  return std::string_view::npos;
}

}  // namespace

std::string_view LayoutName(LineLayout layout) {
  switch (layout) {
    case LineLayout::kIis:
      return "iis";
    case LineLayout::kTomcat:
      return "tomcat";
    case LineLayout::kApache:
      return "apache";
    case LineLayout::kW3c:
      return "w3c";
    case LineLayout::kCommon:
      return "common";
    case LineLayout::kCombined:
      return "combined";
    case LineLayout::kVhostCombined:
      return "vhost_combined";
    case LineLayout::kUnknown:
      break;
  }
  return "unknown";
}

W3cFields::W3cFields(std::vector<std::string> names) : names_(std::move(names)) {
  index_.fill(kMissing);
  for (std::size_t i = 0; i < names_.size(); ++i) {
    const std::string lower = Lower(names_[i]);
    for (const auto& [name, role] : kRoles) {
      if (lower == name && index_[role] == kMissing) index_[role] = i;
    }
  }
}

std::optional<W3cFields> W3cFields::FromDirective(std::string_view directive) {
  directive = TrimControls(directive);
  if (!StartsWithNoCase(directive, kFieldsDirective)) return std::nullopt;
  directive.remove_prefix(kFieldsDirective.size());
  std::vector<std::string> names;
  ForEachField(directive, [&](std::string_view field, std::size_t) {
    names.emplace_back(field);
    return true;
  });
  if (names.empty()) return std::nullopt;
  return W3cFields(std::move(names));
}

std::optional<W3cFields> W3cFields::IisDefault(std::size_t field_count) {
  std::vector<std::string> names = {"date",        "time",          "s-ip",   "cs-method",
                                    "cs-uri-stem", "cs-uri-query",  "s-port", "cs-username",
                                    "c-ip",        "cs(User-Agent)"};
  if (field_count == 15) {
    names.emplace_back("cs(Referer)");
  } else if (field_count != 14) {
    return std::nullopt;
  }
  for (const char* name : {"sc-status", "sc-substatus", "sc-win32-status", "time-taken"}) {
    names.emplace_back(name);
  }
  return W3cFields(std::move(names));
}

std::string W3cFields::ResultHeader() const {
  std::string header;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (!header.empty()) header += ' ';
    const std::string lower = Lower(names_[i]);
    std::string_view shown = names_[i];
    for (const auto& [name, chinese] : kChineseFieldNames) {
      if (lower == name) shown = chinese;
    }
    header += shown;
    if (i == index_[kClient]) header += " 物理地址";
  }
  return header;
}

bool LooksLikeHttpRequest(std::string_view request) {
  std::size_t method_end = 0;
  while (method_end < request.size() && IsMethodChar(request[method_end])) ++method_end;
  if (method_end == 0 || method_end > 24 || method_end >= request.size() ||
      request[method_end] != ' ' || request[0] < 'a' || request[0] > 'z') {
    return false;
  }
  std::string_view target = request.substr(method_end + 1);
  if (target.empty() || target.front() == ' ') return false;
  const std::size_t last_blank = target.rfind(' ');
  if (last_blank != std::string_view::npos && target.substr(last_blank + 1).starts_with("http/")) {
    target = target.substr(0, last_blank);
    if (target.empty()) return false;
  }
  // The HTTP/2 connection preface is written to access logs by servers that refuse it.
  return !(request.substr(0, method_end) == "pri" && target == "*");
}

SkipReason ParseNcsaLine(std::string_view line, NcsaParts& parts) {
  const std::size_t open = line.find('"');
  if (open == std::string_view::npos || open == 0) return SkipReason::kShape;
  const std::string_view prefix = line.substr(0, open);
  std::string_view first;
  std::string_view second;
  std::size_t index = 0;
  std::size_t bracket_field = SIZE_MAX;
  std::size_t bracket_at = 0;
  ForEachField(prefix, [&](std::string_view field, std::size_t offset) {
    if (index == 0) first = field;
    if (index == 1) second = field;
    if (bracket_field == SIZE_MAX && field.front() == '[') {
      bracket_field = index;
      bracket_at = offset;
    }
    ++index;
    // Nothing after the first bracket or the second field matters.
    return bracket_field == SIZE_MAX || index < 2;
  });
  if (index == 0) return SkipReason::kShape;
  const bool vhost = bracket_field == 4;
  parts.client = vhost ? second : first;
  parts.time = {};
  if (bracket_field != SIZE_MAX) {
    const std::size_t close = prefix.find(']', bracket_at);
    if (close != std::string_view::npos) {
      parts.time = prefix.substr(bracket_at + 1, close - bracket_at - 1);
    }
  }
  const std::size_t close = ClosingQuote(line, open);
  if (close == std::string_view::npos) return SkipReason::kShape;
  parts.request = line.substr(open + 1, close - open - 1);
  if (!LooksLikeHttpRequest(parts.request)) return SkipReason::kNotHttp;
  parts.method = parts.request.substr(0, parts.request.find(' '));
  std::string_view rest = line.substr(close + 1);
  std::size_t skip = 0;
  while (skip < rest.size() && IsFieldSeparator(rest[skip])) ++skip;
  rest.remove_prefix(skip);
  std::size_t end = 0;
  while (end < rest.size() && !IsFieldSeparator(rest[end])) ++end;
  parts.status = rest.substr(0, end);
  const bool referrer_follows = rest.find('"', end) != std::string_view::npos;
  parts.layout = vhost              ? LineLayout::kVhostCombined
                 : referrer_follows ? LineLayout::kCombined
                                    : LineLayout::kCommon;
  return SkipReason::kNone;
}

LineLayout GuessLayout(std::string_view text) {
  std::map<LineLayout, int> votes;
  int looked_at = 0;
  while (!text.empty() && looked_at < 64) {
    const std::size_t feed = text.find('\n');
    std::string_view raw = text.substr(0, feed);
    text.remove_prefix(feed == std::string_view::npos ? text.size() : feed + 1);
    raw = TrimControls(raw);
    if (raw.empty()) continue;
    ++looked_at;
    if (raw.front() == '#') {
      if (StartsWithNoCase(raw, kFieldsDirective)) return LineLayout::kW3c;
      continue;
    }
    const std::string line = Lower(raw);
    NcsaParts parts;
    if (ParseNcsaLine(line, parts) == SkipReason::kNone) {
      ++votes[parts.layout];
      continue;
    }
    if (LooksLikeDate(FirstField(line)) && W3cFields::IisDefault(CountFields(line))) {
      ++votes[LineLayout::kW3c];
    }
  }
  LineLayout best = LineLayout::kUnknown;
  int most = 0;
  for (const auto& [layout, count] : votes) {
    if (count > most) {
      best = layout;
      most = count;
    }
  }
  return best;
}

std::optional<std::string_view> LastFieldsDirective(std::string_view text) {
  std::optional<std::string_view> last;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  for (const char* p = begin; p < end;) {
    const auto* hash = static_cast<const char*>(std::memchr(p, '#', end - p));
    if (hash == nullptr) break;
    const auto* feed = static_cast<const char*>(std::memchr(hash, '\n', end - hash));
    const char* line_end = feed != nullptr ? feed : end;
    if (hash == begin || hash[-1] == '\n') {
      const std::string_view line(hash, static_cast<std::size_t>(line_end - hash));
      if (StartsWithNoCase(line, kFieldsDirective)) last = line;
    }
    p = line_end;
  }
  return last;
}

}  // namespace ostrel
