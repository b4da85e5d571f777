#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// How a record stores its country text (the first byte of its location data).
enum class CountryForm {
  kInline,    // the country text in the record itself
  kRef1,      // 0x01 + offset of a block holding the country text and the area field
  kRef1Ref2,  // 0x01 + offset of a block holding 0x02 + offset of the country, then the area
  kRef2,      // 0x02 + offset of the country text; the area field follows in the record
};

// How a record stores its area text (the first byte of its area field).
enum class AreaForm {
  kInline,    // the area text in place
  kRef1,      // 0x01 + offset of the area text
  kRef2,      // 0x02 + offset of the area text
  kUnknown1,  // 0x01 + offset 0: the reader's "unknown area"
  kUnknown2,  // 0x02 + offset 0
};

// One record of a QQWry.dat to build. Texts are GBK bytes without zero bytes.
struct QQWryEntry {
  uint32_t start = 0;
  CountryForm country_form = CountryForm::kInline;
  std::string country;
  AreaForm area_form = AreaForm::kInline;
  std::string area;
};

// A description that cannot be read, with its 1-based line number.
class QQWryDescriptionError : public std::runtime_error {
 public:
  QQWryDescriptionError(int line, const std::string& message)
      : std::runtime_error(message), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Reads a plain-text description (format in tools/qqwry_build.cc) into entries, texts
// converted from UTF-8 to GBK. Throws QQWryDescriptionError naming the line on bad input.
std::vector<QQWryEntry> ParseQQWryDescription(std::string_view text);

// The bytes of a QQWry.dat holding `entries` in the given order (not sorted, so tests
// can make non-ascending indexes). Each record's last address is one below the next
// entry's start (255.255.255.255 for the last). Identical redirect targets are stored
// once and shared. Throws std::invalid_argument when there are no entries, a text
// cannot be stored in its form, or an offset would not fit in 24 bits.
std::string BuildQQWry(const std::vector<QQWryEntry>& entries);

}  // namespace ostrel
