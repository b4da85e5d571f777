#include "export/html_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

#include "engine/log_layout.h"
#include "engine/result_writer.h"
#include "engine/text_decode.h"
#include "export/excel_export.h"
#include "export/hit_time.h"
#include "export/html_text.h"
#include "export/svg_chart.h"
#include "rules/rule_categories.h"
#include "update/atomic_file.h"

namespace ostrel {
namespace {

constexpr std::size_t kTopAddresses = 20;
constexpr std::size_t kTopLocations = 15;
constexpr std::size_t kTopPaths = 20;
constexpr std::size_t kTopStatuses = 12;
constexpr std::size_t kMaxHourColumns = 72;
constexpr std::size_t kMaxDayColumns = 400;
constexpr std::size_t kMaxMonthColumns = 240;

constexpr std::string_view kStyle = R"(
body{font-family:"Noto Sans CJK SC","Source Han Sans SC","Microsoft YaHei","PingFang SC",
sans-serif;margin:0;background:#f4f5f7;color:#222;font-size:14px}
header{background:#1f3a5f;color:#fff;padding:18px 28px}
header h1{margin:0 0 6px;font-size:22px}
header p{margin:2px 0;color:#d6e0ee}
main{padding:8px 28px 28px;max-width:1180px}
section{background:#fff;border-radius:6px;padding:14px 18px;margin:16px 0;
box-shadow:0 1px 2px rgba(0,0,0,.08)}
h2{font-size:17px;margin:0 0 10px}
h2 small{color:#777;font-weight:normal;margin-left:6px}
.state{padding:10px 14px;border-radius:4px;margin:14px 0 0;font-weight:bold}
.state.done{background:#e6f4ea;color:#1e6b34}
.state.stopped,.state.failed{background:#fdecea;color:#a12622}
.cards{display:flex;flex-wrap:wrap;gap:12px}
.card{flex:1 1 150px;background:#f7f9fc;border:1px solid #e1e6ee;border-radius:6px;padding:10px}
.card b{display:block;font-size:22px;color:#1f3a5f}
.card span{color:#666;font-size:12px}
table{border-collapse:collapse;width:100%;font-size:13px}
th,td{border-bottom:1px solid #e6e6e6;padding:4px 6px;text-align:left;vertical-align:top}
th{background:#f0f2f5;font-weight:600}
td.n,th.n{text-align:right;white-space:nowrap}
td code{font-family:"Noto Sans Mono CJK SC",monospace;font-size:12px;word-break:break-all}
.note{color:#666;font-size:12px;margin:6px 0 0}
svg.chart{max-width:100%;height:auto;display:block}
)";

// A path as UTF-8: file systems hold any bytes.
std::string PathText(const std::filesystem::path& path) {
  if (path == "-") return "标准输入 (standard input)";
  std::string scratch;
  return std::string(DecodeLine(path.string(), scratch));
}

std::string_view CategoryColor(std::size_t slot) {
  static constexpr std::array<std::string_view, 8> kColors = {
      "#d9534f", "#e8912d", "#4a7bd0", "#8e44ad", "#16a085", "#34495e", "#e57373", "#7f8c8d"};
  return slot < kColors.size() ? kColors[slot] : std::string_view("#aaaaaa");
}

std::string_view StatusColor(std::string_view status) {
  if (status.size() == 3 && status[0] >= '1' && status[0] <= '5') {
    switch (status[0]) {
      case '2':
        return "#2e7d32";
      case '3':
        return "#1565c0";
      case '4':
        return "#ef6c00";
      case '5':
        return "#c62828";
      default:
        break;
    }
  }
  return "#888888";
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "0%";
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%.1f%%",
                100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text.data();
}

std::string KeyText(std::string_view key, std::string_view when_empty) {
  return key.empty() ? std::string(when_empty) : std::string(key);
}

// The top rows of a counter as chart items, with one "其他 Other" item for the rest.
std::vector<ChartItem> TopItems(const CappedCounter& counter, std::size_t n,
                                std::string_view when_empty, bool status_colors = false) {
  std::vector<ChartItem> items;
  std::uint64_t shown = 0;
  for (const CappedCounter::Row& row : counter.Top(n)) {
    ChartItem& item = items.emplace_back();
    item.label = KeyText(row.first, when_empty);
    item.value = row.second->count;
    if (status_colors) item.color = StatusColor(row.first);
    shown += item.value;
  }
  if (counter.total() > shown) {
    items.push_back({"其他 Other", counter.total() - shown, "#b0b0b0"});
  }
  return items;
}

void Section(std::string& out, std::string_view id, std::string_view chinese,
             std::string_view english) {
  out += "<section id=\"";
  out += id;
  out += "\"><h2>";
  out += chinese;
  out += "<small>";
  out += english;
  out += "</small></h2>";
}

void Card(std::string& out, std::string_view caption, std::uint64_t value) {
  out += "<div class=\"card\"><b>" + GroupedNumber(value) + "</b><span>";
  out += caption;
  out += "</span></div>";
}

void Cell(std::string& out, std::string_view text, bool number = false) {
  out += number ? "<td class=\"n\">" : "<td>";
  AppendHtmlEscaped(text, out);
  out += "</td>";
}

void NumberCell(std::string& out, std::uint64_t value) {
  out += "<td class=\"n\">" + GroupedNumber(value) + "</td>";
}

// Whether the run ended before it had read all its inputs.
bool Unfinished(const RunSummary& summary, const ReportContext& context) {
  if (!context.error.empty()) return true;
  if (summary.stopped) return false;
  if (summary.files < context.inputs.size()) return true;
  return std::any_of(summary.per_file.begin(), summary.per_file.end(),
                     [](const FileSummary& file) { return !file.finished; });
}

void RenderHeader(std::string& out, const RunSummary& summary, const ReportContext& context) {
  out += "<header><h1>Ostrel 攻击分析报告 <small>Attack report</small></h1><p>分析时间 Run at: ";
  AppendHtmlEscaped(context.started_at, out);
  out += "</p><p>选项 Options: ";
  AppendHtmlEscaped(DescribeRunOptions(context.options), out);
  out += "</p><p>输入 Inputs: ";
  for (std::size_t i = 0; i < context.inputs.size() && i < 20; ++i) {
    if (i > 0) out += "，";
    AppendHtmlEscaped(PathText(context.inputs[i]), out);
  }
  if (context.inputs.size() > 20) {
    out += " … 共 " + GroupedNumber(context.inputs.size()) + " 个文件";
  }
  out += "</p></header><main>";
  if (summary.stopped) {
    out += "<div class=\"state stopped\">分析已被中止 (stopped)：以下只是中止前读到的内容。</div>";
  } else if (Unfinished(summary, context)) {
    out += "<div class=\"state failed\">分析因错误而中止 (failed)：以下只是出错前读到的内容。";
    if (!context.error.empty()) {
      out += "<br>";
      AppendHtmlEscaped(context.error, out);
    }
    out += "</div>";
  } else {
    out += "<div class=\"state done\">分析完成 (finished)</div>";
  }
}

void RenderTotals(std::string& out, const ReportCollector& collector, const RunSummary& summary) {
  const LineCounts& c = summary.counts;
  Section(out, "totals", "总览", "Totals");
  out += "<div class=\"cards\">";
  Card(out, "读取行数 Lines read", c.read);
  Card(out, "分析行数 Examined", c.examined);
  Card(out, "跳过 Skipped", c.skipped());
  Card(out, "过滤 Filtered", c.static_dropped + c.status_dropped);
  Card(out, "检中 Hits", c.hits);
  Card(out, "来源地址 Addresses", collector.addresses().size());
  out +=
      "</div><table style=\"margin-top:12px\"><tr><th>文件 File</th><th>格式 Layout</th>"
      "<th class=\"n\">读取 Read</th><th class=\"n\">分析 Examined</th>"
      "<th class=\"n\">跳过 Skipped</th><th class=\"n\">静态过滤 Static</th>"
      "<th class=\"n\">状态过滤 Status</th><th class=\"n\">检中 Hits</th>"
      "<th>备注 Notes</th></tr>";
  for (const FileSummary& file : summary.per_file) {
    out += "<tr>";
    Cell(out, PathText(file.path));
    Cell(out, file.binary ? std::string_view("-") : LayoutName(file.layout));
    NumberCell(out, file.counts.read);
    NumberCell(out, file.counts.examined);
    NumberCell(out, file.counts.skipped());
    NumberCell(out, file.counts.static_dropped);
    NumberCell(out, file.counts.status_dropped);
    NumberCell(out, file.counts.hits);
    std::string notes;
    const auto note = [&notes](std::string_view text) {
      if (!notes.empty()) notes += "；";
      notes += text;
    };
    if (!file.compression.empty()) note(file.compression);
    if (file.binary) note("非文本，已跳过 (binary, skipped)");
    if (file.shrank) note("读取时变短 (shrank while read)");
    if (!file.finished) note("未读完 (not read to its end)");
    if (file.counts.limited > 0) {
      note("规则测试达到上限 " + GroupedNumber(file.counts.limited) + " 行 (match limit)");
    }
    if (file.counts.unlocated > 0) {
      note("未写位置 " + GroupedNumber(file.counts.unlocated) + " 条 (unlocated)");
    }
    Cell(out, notes);
    out += "</tr>";
  }
  out += "<tr><th>合计 Total</th><th></th>";
  for (const std::uint64_t value :
       {c.read, c.examined, c.skipped(), c.static_dropped, c.status_dropped, c.hits}) {
    out += "<th class=\"n\">" + GroupedNumber(value) + "</th>";
  }
  out += "<th></th></tr></table></section>";
}

void RenderRules(std::string& out, const ReportCollector& collector, const ReportContext& context) {
  const std::vector<std::uint64_t>& by_slot = collector.by_slot();
  const std::size_t slot_count = SlotCountOf(context.options.rule_set);
  std::vector<ChartItem> categories;
  std::vector<ChartItem> slots;
  for (std::size_t slot = 0; slot < ReportCollector::kMaxSlots; ++slot) {
    if (slot >= slot_count && by_slot[slot] == 0) continue;
    const RuleCategory category = RuleCategoryOf(slot);
    std::string label = std::string(category.chinese) + " · " + std::string(category.english);
    categories.push_back({label, by_slot[slot], CategoryColor(slot)});
    slots.push_back({"槽 " + std::to_string(slot + 1) + " · " + std::string(category.key),
                     by_slot[slot], CategoryColor(slot)});
  }
  if (by_slot.back() > 0) {
    categories.push_back({"其他 Other", by_slot.back(), CategoryColor(SIZE_MAX)});
    slots.push_back({"其他槽 Other slots", by_slot.back(), CategoryColor(SIZE_MAX)});
  }
  std::stable_sort(categories.begin(), categories.end(),
                   [](const ChartItem& a, const ChartItem& b) { return a.value > b.value; });
  Section(out, "categories", "攻击类别", "Hits by category");
  out += SvgBarChart("chart-category", "攻击类别 Hits by category", categories);
  out += "</section>";
  Section(out, "slots", "规则槽", "Hits by rule slot");
  out += SvgBarChart("chart-slot", "规则槽 Hits by rule slot", slots);
  out +=
      "<p class=\"note\">一条命中只记它最先匹配的规则槽。A hit counts for the first slot "
      "that matched.</p></section>";
}

void RenderSources(std::string& out, const ReportCollector& collector) {
  const CappedCounter& addresses = collector.addresses();
  Section(out, "addresses", "攻击来源地址", "Top attacking addresses");
  std::vector<ChartItem> items;
  const std::vector<CappedCounter::Row> top = addresses.Top(kTopAddresses);
  for (const CappedCounter::Row& row : top) {
    std::string label = KeyText(row.first, "（空）");
    if (!row.second->note.empty()) label += "  " + row.second->note;
    items.push_back({label, row.second->count, "#c0504d"});
  }
  out += SvgBarChart("chart-addresses", "攻击来源地址 Top attacking addresses", items);
  out +=
      "<table style=\"margin-top:10px\"><tr><th>#</th><th>地址 Address</th><th>位置 "
      "Location</th><th class=\"n\">检中 Hits</th><th class=\"n\">占比 Share</th></tr>";
  for (std::size_t i = 0; i < top.size(); ++i) {
    out += "<tr>";
    NumberCell(out, i + 1);
    Cell(out, KeyText(top[i].first, "（空）"));
    Cell(out, KeyText(top[i].second->note, "（无）"));
    NumberCell(out, top[i].second->count);
    Cell(out, Percent(top[i].second->count, addresses.total()), true);
    out += "</tr>";
  }
  out += "</table>";
  if (addresses.others() > 0) {
    out += "<p class=\"note\">不同地址超过 " + GroupedNumber(addresses.size()) + " 个，其余 " +
           GroupedNumber(addresses.others()) +
           " 条命中计入“其他”。Beyond the counted addresses, hits count as Other.</p>";
  }
  out += "</section>";

  Section(out, "locations", "来源位置", "Top locations");
  out += SvgBarChart("chart-locations", "来源位置 Top locations",
                     TopItems(collector.locations(), kTopLocations, "（无位置 none）"));
  out += "</section>";
}

std::vector<ChartItem> TimelineItems(const ReportCollector& collector, TimeBucket& bucket) {
  const std::map<std::int64_t, std::uint64_t>& by_hour = collector.by_hour();
  std::vector<ChartItem> items;
  if (by_hour.empty()) return items;
  const std::int64_t first = by_hour.begin()->first;
  const std::int64_t last = by_hour.rbegin()->first;
  const auto count_buckets = [&](TimeBucket b) {
    std::size_t n = 0;
    for (std::int64_t h = BucketStart(first, b); h <= last && n <= kMaxDayColumns;
         h = NextBucket(h, b)) {
      ++n;
    }
    return n;
  };
  if (static_cast<std::size_t>(last - first) < kMaxHourColumns) {
    bucket = TimeBucket::kHour;
  } else if (count_buckets(TimeBucket::kDay) <= kMaxDayColumns) {
    bucket = TimeBucket::kDay;
  } else if (count_buckets(TimeBucket::kMonth) <= kMaxMonthColumns) {
    bucket = TimeBucket::kMonth;
  } else {
    bucket = TimeBucket::kYear;
  }
  auto hour = by_hour.begin();
  for (std::int64_t start = BucketStart(first, bucket); start <= last;
       start = NextBucket(start, bucket)) {
    const std::int64_t end = NextBucket(start, bucket);
    std::uint64_t value = 0;
    for (; hour != by_hour.end() && hour->first < end; ++hour) value += hour->second;
    items.push_back({BucketLabel(start, bucket), value, "#4a7bd0"});
  }
  return items;
}

void RenderTimeline(std::string& out, const ReportCollector& collector) {
  TimeBucket bucket = TimeBucket::kHour;
  const std::vector<ChartItem> items = TimelineItems(collector, bucket);
  static constexpr std::array<std::string_view, 4> kPer = {"每小时 per hour", "每天 per day",
                                                           "每月 per month", "每年 per year"};
  Section(out, "timeline", "命中时间分布", "Timeline of hits");
  out += SvgColumnChart("chart-timeline", "命中时间分布 Timeline of hits", items);
  out += "<p class=\"note\">";
  if (!items.empty()) {
    out += kPer[static_cast<std::size_t>(bucket)];
    out += "，按日志所写的时间（不换算时区）。As logged, no time-zone conversion. ";
  }
  if (collector.untimed() > 0) {
    out +=
        "没有可读时间的命中 Hits without a readable time: " + GroupedNumber(collector.untimed()) +
        "。";
  }
  if (collector.hours_over() > 0) {
    out += "超出统计上限的命中 Hits beyond the counted hours: " +
           GroupedNumber(collector.hours_over()) + "。";
  }
  out += "</p></section>";
}

void RenderTargets(std::string& out, const ReportCollector& collector,
                   const ReportContext& context) {
  Section(out, "paths", "被攻击路径", "Top targeted paths");
  out += SvgBarChart("chart-paths", "被攻击路径 Top targeted paths",
                     TopItems(collector.paths(), kTopPaths, "（空）"));
  if (collector.without_path() > 0) {
    out += "<p class=\"note\">请求中没有路径的命中 Hits without a path in the request: " +
           GroupedNumber(collector.without_path()) + "（IIS 固定字段类型只测方法和查询）。</p>";
  }
  out += "</section>";
  Section(out, "statuses", "命中的状态码", "Status codes of hits");
  const CappedCounter& statuses = collector.statuses();
  out += SvgBarChart("chart-status", "命中的状态码 Status codes of hits",
                     TopItems(statuses, kTopStatuses, "（空）", true));
  std::uint64_t success = 0;
  std::uint64_t client_error = 0;
  for (const CappedCounter::Row& row : statuses.Top(statuses.size())) {
    if (row.first.size() == 3 && row.first[0] == '2') success += row.second->count;
    if (row.first.size() == 3 && row.first[0] == '4') client_error += row.second->count;
  }
  out +=
      "<p class=\"note\">2xx（服务器照常应答，攻击可能得手 the server answered: the attack may "
      "have worked）：" +
      GroupedNumber(success) + "，" + Percent(success, statuses.total()) +
      "；4xx（未找到或被拒绝 not found or refused）：" + GroupedNumber(client_error) + "，" +
      Percent(client_error, statuses.total()) + "。";
  if (context.options.status_200_only) {
    out +=
        "本次只分析了状态 200 的请求 (only status 200 was examined: --any-status examines "
        "all)。";
  }
  out += "</p></section>";
}

void RenderFirstHits(std::string& out, const ReportCollector& collector,
                     const ReportContext& context) {
  const std::vector<ReportHit>& hits = collector.first_hits();
  Section(out, "hits", "命中明细", "Hits");
  if (collector.hits() > hits.size()) {
    out += "<p class=\"note\">前 " + GroupedNumber(hits.size()) + " 条，共 " +
           GroupedNumber(collector.hits()) +
           " 条。The first hits of all; every hit is in the "
           "result file.</p>";
  }
  out +=
      "<table><tr><th class=\"n\">#</th><th>文件 File</th><th class=\"n\">行 Line</th>"
      "<th>时间 Time</th><th>地址 Address</th><th>位置 Location</th><th>类别 Category</th>"
      "<th>状态 Status</th><th>请求 Request</th></tr>";
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const ReportHit& hit = hits[i];
    out += "<tr>";
    NumberCell(out, i + 1);
    Cell(out, hit.file_index < context.inputs.size()
                  ? PathText(context.inputs[hit.file_index].filename().empty()
                                 ? context.inputs[hit.file_index]
                                 : context.inputs[hit.file_index].filename())
                  : std::to_string(hit.file_index + 1));
    NumberCell(out, hit.line_number);
    Cell(out, hit.time);
    Cell(out, hit.client);
    Cell(out, hit.location);
    const RuleCategory category = RuleCategoryOf(hit.slot);
    out += "<td title=\"";
    AppendHtmlEscaped(category.english, out);
    out += "\">";
    AppendHtmlEscaped(category.chinese, out);
    out += "（槽 " + std::to_string(hit.slot + 1) + "）</td>";
    Cell(out, hit.status);
    out += "<td><code>";
    AppendHtmlEscaped(hit.request, out);
    out += "</code></td></tr>";
  }
  out += "</table>";
  if (hits.empty()) out += "<p class=\"note\">没有命中。No hits.</p>";
  out += "</section>";
}

}  // namespace

std::string DescribeRunOptions(const RunOptions& options) {
  static constexpr std::array<std::string_view, 4> kTypes = {"iis", "tomcat", "apache", "auto"};
  const auto type = static_cast<std::size_t>(options.log_type);
  std::string text = "日志类型 ";
  text += type < kTypes.size() ? kTypes[type] : "?";
  text += " · 规则 ";
  text += options.rule_set == RuleSet::kBroad ? "broad（槽 1–8）" : "compact（槽 1–6）";
  text += options.drop_static ? " · 过滤静态资源" : " · 保留静态资源";
  text += options.status_200_only ? " · 只分析状态 200" : " · 分析所有状态";
  text += options.encoding == ResultEncoding::kGbk ? " · 结果 GBK" : " · 结果 UTF-8";
  return text;
}

std::string LocalTimeText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  std::array<char, 32> text{};
  std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
  return text.data();
}

std::string RenderHtmlReport(const ReportCollector& collector, const RunSummary& summary,
                             const ReportContext& context) {
  std::string out;
  out.reserve(256 * 1024);
  out +=
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; img-src data:\">"
      "<title>Ostrel 攻击分析报告</title><style>";
  out += kStyle;
  out += "</style></head><body>";
  RenderHeader(out, summary, context);
  RenderTotals(out, collector, summary);
  RenderRules(out, collector, context);
  RenderSources(out, collector);
  RenderTimeline(out, collector);
  RenderTargets(out, collector, context);
  RenderFirstHits(out, collector, context);
  out += "</main></body></html>\n";
  return out;
}

void WriteReportFile(const std::filesystem::path& path, std::string_view html) {
  if (path == "-") {
    try {
      ResultWriter writer(path);
      writer.Append(html);
      writer.Close();
    } catch (const ResultWriteError& error) {
      throw ExportError(std::string("cannot write standard output: ") + error.what(), path);
    }
    return;
  }
  // AtomicFile's messages name the file already.
  AtomicFile file;
  std::string error;
  if (!file.Open(path, &error) || !file.Write(html, &error) || !file.Commit(&error)) {
    throw ExportError(error, path);
  }
}

}  // namespace ostrel
