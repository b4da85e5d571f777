#include "engine/line_error.h"

#include <cstdio>

namespace ostrel {
namespace {

// The text with control characters written as \xNN, so a message stays one printable line.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 32 || code == 127) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

LineError LineError::TooFewFields(std::size_t field_count) {
  return LineError(Kind::kTooFewFields,
                   "IIS W3C 日志行字段不足 11 个（只有 " + std::to_string(field_count) +
                       " 个）：该日志可能不是所选的日志类型，或此行为空行、被截断的行。"
                       "请选择正确的日志类型，或修正该行后重试。");
}

LineError LineError::StatusNotInteger(std::string_view status_text, std::string_view hint) {
  const std::string shown =
      status_text.empty() ? std::string("状态码为空") : "状态码“" + Printable(status_text) + "”";
  const std::string advice =
      hint.empty() ? std::string("该日志可能不是所选的日志类型") : std::string(hint);
  return LineError(Kind::kStatusNotInteger,
                   shown + "不是整数：" + advice +
                       "。请选择能读取此日志的类型，或关闭“状态码 200 (成功)”过滤后重试。");
}

}  // namespace ostrel
