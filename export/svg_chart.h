#pragma once

// The report's charts, drawn as inline SVG: no script, no chart library, nothing fetched.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

struct ChartItem {
  std::string label;  // UTF-8, any text: it is escaped here
  std::uint64_t value = 0;
  std::string_view color = "#3b6ea8";  // a CSS colour literal of ours, never input
};

// A horizontal bar chart, one row per item in the given order: the label (cut to fit, the
// whole text as its tooltip), a bar scaled to the largest value, and the value. An empty
// list draws the text "无数据 No data". `id` and `caption` are our own ASCII/UTF-8 texts.
std::string SvgBarChart(std::string_view id, std::string_view caption,
                        const std::vector<ChartItem>& items);

// A column chart of a series in time order (the timeline): one column per item, the
// value axis from 0 to the largest value, a few item labels under the columns, every
// column's label and value as its tooltip. An empty list draws "无数据 No data".
std::string SvgColumnChart(std::string_view id, std::string_view caption,
                           const std::vector<ChartItem>& items);

// 1234567 as "1,234,567".
std::string GroupedNumber(std::uint64_t value);

}  // namespace ostrel
