#include "engine/reading_hint.h"

namespace ostrel {
namespace {

constexpr std::string_view kUseAuto = "请选“自动识别”（命令行 --type auto）读取";

}  // namespace

std::string_view LayoutDescription(LineLayout layout) {
  switch (layout) {
    case LineLayout::kIis:
    case LineLayout::kW3c:
      return "W3C 扩展日志";
    case LineLayout::kTomcat:
    case LineLayout::kCommon:
      return "NCSA common 日志（Apache/Nginx/Tomcat 的 common 格式）";
    case LineLayout::kApache:
    case LineLayout::kCombined:
      return "NCSA combined 日志（带引用站点和浏览器字段）";
    case LineLayout::kVhostCombined:
      return "vhost_combined 日志（行首为主机名:端口）";
    case LineLayout::kUnknown:
      break;
  }
  return "无法识别的日志";
}

std::string ReadingHint(LogType chosen, std::string_view line) {
  const LineLayout layout = GuessLayout(line);
  if (layout == LineLayout::kUnknown) {
    return "此行不是可识别的访问日志行（可能是截断的行，或不是 HTTP 请求）";
  }
  std::string hint = "此行是" + std::string(LayoutDescription(layout));
  switch (chosen) {
    case LogType::kIis:
      hint += layout == LineLayout::kW3c ? "，其字段顺序与 IIS W3c 类型的固定位置不同"
                                         : "，不是 IIS W3c 的字段格式";
      break;
    case LogType::kTomcat:
      if (layout == LineLayout::kCombined || layout == LineLayout::kVhostCombined) {
        hint += "，Tomcat/Weblogic 类型在最后一个引号之后读状态码，读到的不是状态码";
      }
      break;
    case LogType::kApache:
      hint +=
          "，其请求协议不是 HTTP/1.1，或请求之后的字段中含有“/1.1\"”，Apache/Ngnix "
          "类型在错误的位置读状态码";
      break;
    case LogType::kAuto:
      return hint + "，但此行的状态码无法读取";
  }
  return hint + "；" + std::string(kUseAuto);
}

}  // namespace ostrel
