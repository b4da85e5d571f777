#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// The two error boxes shown, in this order, when the workbook cannot be written or no
// application opens it. Both use the error icon and an OK button.
inline constexpr std::string_view kExportFailedText = "请确认机子上是否装了excel";
inline constexpr std::string_view kExportFailedCaption = "错误";
inline constexpr std::string_view kResultLocationCaption = "位置";

// The second box's text: "保存在 " immediately followed by the result file's path.
inline std::string ResultLocationText(std::string_view result_file_path) {
  return std::string("保存在 ").append(result_file_path);
}

}  // namespace ostrel
