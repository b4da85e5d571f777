#pragma once

// What each rule slot looks for: one category per slot, with a stable key for machine
// outputs (JSON Lines, CSV) and names for people. docs/rules.md shows the same table.

#include <array>
#include <cstddef>
#include <string_view>

namespace ostrel {

struct RuleCategory {
  std::string_view key;      // stable, ASCII: "sqli", "xss", ...
  std::string_view chinese;  // for the window and the report
  std::string_view english;
};

inline constexpr std::array<RuleCategory, 8> kRuleCategories = {{
    {"sqli", "SQL 注入", "SQL injection"},
    {"xss", "跨站脚本", "Cross-site scripting"},
    {"traversal", "路径遍历与文件包含", "Path traversal and file inclusion"},
    {"cmdi", "命令注入与代码执行", "Command injection and code execution"},
    {"java", "Java 与模板注入", "Java, OGNL, JNDI and template injection"},
    {"probe", "WebShell 与敏感文件探测", "Web shells and sensitive-file probes"},
    {"sqli-xss-broad", "SQL 与脚本（宽泛）", "SQL and script keywords (broad)"},
    {"misc-broad", "遍历、命令与编码（宽泛）", "Traversal, command and encoding tricks (broad)"},
}};

// The category of a 0-based rule slot; slots beyond the table are "other".
constexpr RuleCategory RuleCategoryOf(std::size_t slot) {
  if (slot < kRuleCategories.size()) return kRuleCategories[slot];
  return {"other", "其他", "Other"};
}

}  // namespace ostrel
