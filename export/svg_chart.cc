#include "export/svg_chart.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "export/html_text.h"

namespace ostrel {
namespace {

constexpr int kWidth = 760;
constexpr int kLabelRight = 292;  // labels end here, bars begin at kBarLeft
constexpr int kBarLeft = 300;
constexpr int kBarRoom = 380;  // the longest bar; the rest is for its value
constexpr int kRowHeight = 24;
constexpr int kLabelColumns = 40;  // about what 292 pixels of 12-pixel text hold

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

void OpenSvg(std::string& out, std::string_view id, std::string_view caption, int height) {
  out += "<svg id=\"";
  AppendHtmlEscaped(id, out);
  out += "\" class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
         std::to_string(kWidth) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
         std::to_string(kWidth) + " " + std::to_string(height) + "\" role=\"img\" aria-label=\"";
  AppendHtmlEscaped(caption, out);
  out += "\">";
}

std::string NoData(std::string_view id, std::string_view caption) {
  std::string out;
  OpenSvg(out, id, caption, 48);
  out +=
      "<text x=\"16\" y=\"30\" class=\"empty\" font-size=\"14\" fill=\"#888\">无数据 No "
      "data</text></svg>";
  return out;
}

// The step of the value axis's four ticks: the smallest 1, 2, 2.5 or 5 times a power of
// ten that reaches `largest` in four steps, so the ticks read as round numbers.
std::uint64_t TickStep(std::uint64_t largest) {
  const std::uint64_t quarter = largest / 4 + (largest % 4 != 0 ? 1 : 0);
  for (std::uint64_t power = 1; power <= UINT64_MAX / 10; power *= 10) {
    if (power >= quarter) return power;
    if (2 * power >= quarter) return 2 * power;
    if (power >= 10 && 5 * power / 2 >= quarter) return 5 * power / 2;
    if (5 * power >= quarter) return 5 * power;
  }
  return quarter;
}

}  // namespace

std::string GroupedNumber(std::uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string SvgBarChart(std::string_view id, std::string_view caption,
                        const std::vector<ChartItem>& items) {
  if (items.empty()) return NoData(id, caption);
  std::uint64_t largest = 1;
  for (const ChartItem& item : items) largest = std::max(largest, item.value);
  const int height = 8 + static_cast<int>(items.size()) * kRowHeight;
  std::string out;
  OpenSvg(out, id, caption, height);
  out += "<g font-size=\"12\">";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ChartItem& item = items[i];
    const int top = 4 + static_cast<int>(i) * kRowHeight;
    const double length = static_cast<double>(item.value) / static_cast<double>(largest) * kBarRoom;
    out += "<g class=\"bar\"><title>";
    AppendHtmlEscaped(item.label, out);
    out += "：" + GroupedNumber(item.value) + "</title><text x=\"" + std::to_string(kLabelRight) +
           "\" y=\"" + std::to_string(top + 16) + "\" text-anchor=\"end\" fill=\"#333\">";
    AppendHtmlEscaped(CutToColumns(item.label, kLabelColumns), out);
    out += "</text><rect x=\"" + std::to_string(kBarLeft) + "\" y=\"" + std::to_string(top + 3) +
           "\" width=\"" + Number(std::max(length, 1.0)) + "\" height=\"" +
           std::to_string(kRowHeight - 6) + "\" rx=\"2\" fill=\"";
    AppendHtmlEscaped(item.color, out);
    out += "\"/><text x=\"" + Number(kBarLeft + std::max(length, 1.0) + 6) + "\" y=\"" +
           std::to_string(top + 16) + "\" fill=\"#555\">" + GroupedNumber(item.value) +
           "</text></g>";
  }
  out += "</g></svg>";
  return out;
}

std::string SvgColumnChart(std::string_view id, std::string_view caption,
                           const std::vector<ChartItem>& items) {
  if (items.empty()) return NoData(id, caption);
  constexpr int kHeight = 250;
  constexpr int kLeft = 56;
  constexpr int kRight = kWidth - 12;
  constexpr int kTop = 14;
  constexpr int kBottom = 200;
  constexpr int kLabels = 6;  // at most, so that the labels never overlap
  std::uint64_t largest = 1;
  for (const ChartItem& item : items) largest = std::max(largest, item.value);
  const std::uint64_t tick_step = TickStep(largest);
  largest = 4 * tick_step;
  const double step = static_cast<double>(kRight - kLeft) / static_cast<double>(items.size());
  const double column = std::max(1.0, step * 0.8);

  std::string out;
  OpenSvg(out, id, caption, kHeight);
  out += "<g font-size=\"11\" fill=\"#555\">";
  for (int tick = 0; tick <= 4; ++tick) {
    const double y = kBottom - (kBottom - kTop) * tick / 4.0;
    const std::uint64_t value = tick_step * static_cast<std::uint64_t>(tick);
    out += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kRight) +
           "\" y1=\"" + Number(y) + "\" y2=\"" + Number(y) + "\" stroke=\"#e3e3e3\"/>";
    out += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + Number(y + 4) +
           "\" text-anchor=\"end\">" + GroupedNumber(value) + "</text>";
  }
  const std::size_t label_every =
      std::max<std::size_t>(1, (items.size() + kLabels - 1) / static_cast<std::size_t>(kLabels));
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ChartItem& item = items[i];
    const double x = kLeft + step * static_cast<double>(i) + (step - column) / 2;
    const double height =
        static_cast<double>(item.value) / static_cast<double>(largest) * (kBottom - kTop);
    out += "<g class=\"column\"><title>";
    AppendHtmlEscaped(item.label, out);
    out += "：" + GroupedNumber(item.value) + "</title><rect x=\"" + Number(x) + "\" y=\"" +
           Number(kBottom - height) + "\" width=\"" + Number(column) + "\" height=\"" +
           Number(height) + "\" fill=\"";
    AppendHtmlEscaped(item.color, out);
    out += "\"/></g>";
    if (i % label_every == 0) {
      out += "<text x=\"" + Number(x + column / 2) + "\" y=\"" + std::to_string(kBottom + 18) +
             "\" text-anchor=\"middle\">";
      AppendHtmlEscaped(CutToColumns(item.label, 18), out);
      out += "</text>";
    }
  }
  out += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kRight) + "\" y1=\"" +
         std::to_string(kBottom) + "\" y2=\"" + std::to_string(kBottom) +
         "\" stroke=\"#999\"/></g></svg>";
  return out;
}

}  // namespace ostrel
