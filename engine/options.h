#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrel {

// The log type, numbered as the window's selector orders it.
enum class LogType : std::uint8_t {
  kIis = 0,     // "IIS W3c": whitespace-separated W3C fields
  kTomcat = 1,  // "Tomcat/Weblogic": request cut from the first to the last double quote
  kApache = 2,  // "Apache/Ngnix": request cut from the first double quote to "/1.1"
  kAuto = 3,    // "自动识别": each file's layout recognised from its content
};

// The rule set: compact tests rule slots 1 to 6, broad tests slots 1 to 8.
enum class RuleSet : std::uint8_t { kCompact = 0, kBroad = 1 };

// How many rule slots, from slot 1 on, a set tests.
constexpr std::size_t SlotCountOf(RuleSet rule_set) {
  return rule_set == RuleSet::kCompact ? 6 : 8;
}

// The character encoding the result file is written in.
enum class ResultEncoding : std::uint8_t { kUtf8, kGbk };

// The options of one run, taken once when it starts.
struct RunOptions {
  LogType log_type = LogType::kIis;
  RuleSet rule_set = RuleSet::kCompact;
  bool drop_static = true;      // drop requests for pictures, Flash files and style sheets
  bool status_200_only = true;  // keep only requests answered with status 200
  ResultEncoding encoding = ResultEncoding::kUtf8;
  unsigned jobs = 0;  // worker threads; 0 means one per core
};

}  // namespace ostrel
