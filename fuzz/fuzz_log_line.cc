// Line extraction for every log type on arbitrary bytes. Checks what every extraction must
// satisfy: no upper-case A-Z and no "#" in what it gives, subjects cut from the line as the
// log type says, (types 1, 2) a status of at most three characters, and for type 0 a stop only by
// LineError. The integer reader and the address check must not crash either.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ip_locator.h"
#include "engine/line_error.h"
#include "engine/log_line.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool HasUpperOrHash(std::string_view text) {
  for (const char c : text) {
    if ((c >= 'A' && c <= 'Z') || c == '#') return true;
  }
  return false;
}

std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  ostrel::ReadInteger(line);
  ostrel::IsIPv4(line);
  // A location that holds blanks and a quote, to exercise the insertion.
  ostrel::IpLocator locator([](std::string_view) { return std::string("中国 \"北京\""); });
  for (const auto type :
       {ostrel::LogType::kIis, ostrel::LogType::kTomcat, ostrel::LogType::kApache}) {
    ostrel::LineExtractor extractor(type, locator);
    std::optional<ostrel::TLogLine> got;
    try {
      got = extractor.ExtractLogLine(line);
    } catch (const ostrel::LineError& error) {
      Check(type == ostrel::LogType::kIis &&
            error.kind() == ostrel::LineError::Kind::kTooFewFields);
      continue;
    }
    if (!got) continue;
    Check(line.find('#') == std::string_view::npos);
    Check(!HasUpperOrHash(got->Line) && !HasUpperOrHash(got->SubjectA) &&
          !HasUpperOrHash(got->SubjectB) && !HasUpperOrHash(got->StatusText));
    // The location goes in only after an address, and only when the line may grow so.
    if (!ostrel::IsIPv4(got->Client)) Check(got->Location.empty());
    if (!got->Location.empty()) Check(got->Line.find("中国\"北京\"") != std::string_view::npos);
    if (type == ostrel::LogType::kIis) {
      Check(!got->SubjectA.empty() && !got->SubjectB.empty() && !got->StatusText.empty());
      for (const std::string_view field : {got->SubjectA, got->SubjectB, got->StatusText}) {
        Check(field.find('"') == std::string_view::npos);
      }
    } else {
      Check(got->SubjectB.empty());
      Check(CharCount(got->StatusText) <= 3);
      const std::string_view request = got->SubjectA;
      if (type == ostrel::LogType::kTomcat) {
        Check(request.size() >= 1 && request.back() == '"');
      } else {
        Check(request.size() >= 5 && request.substr(request.size() - 4) == "/1.1");
      }
    }
  }
  return 0;
}
