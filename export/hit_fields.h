#pragma once

// The fields of a hit as the machine outputs (JSON Lines, CSV) write them: one list of
// names in one order, so both formats carry the same data. docs/ostrel-cli.1 documents it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "engine/hit_sink.h"

namespace ostrel {

enum class HitFieldKind : std::uint8_t { kText, kNumber };

struct HitField {
  std::string_view name;
  HitFieldKind kind;
};

// Stable names: tools that read our outputs rely on them, so add new fields at the end.
inline constexpr std::array<HitField, 17> kHitFields = {{
    {"file", HitFieldKind::kText},           // the input path as given; "-" standard input
    {"file_index", HitFieldKind::kNumber},   // 1-based, in input order
    {"line_number", HitFieldKind::kNumber},  // 1-based, within its file
    {"line", HitFieldKind::kText},           // the output line, as the result file has it
    {"client", HitFieldKind::kText},         // the client address field
    {"location", HitFieldKind::kText},       // its location text; empty when none
    {"subject", HitFieldKind::kText},        // the request text the rules were tested on
    {"subject_b", HitFieldKind::kText},      // log type iis: the URI query; empty otherwise
    {"matched", HitFieldKind::kText},        // "subject" or "subject_b": what the rule matched
    {"status", HitFieldKind::kText},         // the status text as logged
    {"method", HitFieldKind::kText},         // empty when the layout has none
    {"time", HitFieldKind::kText},           // the time text as logged; empty when none
    {"slot", HitFieldKind::kNumber},         // 1-based rule slot that matched first
    {"category", HitFieldKind::kText},       // its category key ("sqli", "xss", ...)
    {"category_zh", HitFieldKind::kText},    // the category's Chinese name
    {"category_en", HitFieldKind::kText},    // the category's English name
    {"layout", HitFieldKind::kText},         // the line's layout ("combined", "w3c", ...)
}};

// Turns hits into the texts of kHitFields. Keeps buffers between calls, so a run's hits
// cost no allocation once the buffers have grown.
class HitFieldValues {
 public:
  using Values = std::array<std::string_view, kHitFields.size()>;

  // The values of `hit`'s fields in kHitFields order, every one valid UTF-8 (a text that
  // is not is decoded as the engine decodes input lines), numbers in decimal. The views
  // are valid until the next call and while `hit` is.
  const Values& Of(const HitRecord& hit);

 private:
  Values values_{};
  // The file file_text_ was made from; a run's paths stay put while it lasts.
  const std::filesystem::path* file_ = nullptr;
  std::size_t file_index_ = 0;
  std::string file_text_;
  std::array<std::string, kHitFields.size()> scratch_;
  std::array<std::array<char, 24>, 3> numbers_{};
};

}  // namespace ostrel
