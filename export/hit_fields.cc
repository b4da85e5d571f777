#include "export/hit_fields.h"

#include <charconv>

#include "engine/text_decode.h"
#include "rules/rule_categories.h"

namespace ostrel {
namespace {

std::string_view Decimal(std::uint64_t value, std::array<char, 24>& buffer) {
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return {buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())};
}

}  // namespace

const HitFieldValues::Values& HitFieldValues::Of(const HitRecord& hit) {
  if (hit.file != file_ || hit.file_index != file_index_ || file_ == nullptr) {
    file_ = hit.file;
    file_index_ = hit.file_index;
    // A path is whatever bytes the file system holds; the engine decodes only line text.
    std::string scratch;
    file_text_ =
        hit.file != nullptr ? std::string(DecodeLine(hit.file->string(), scratch)) : std::string();
  }
  const RuleCategory category = RuleCategoryOf(hit.slot);
  const auto text = [this](std::size_t index, std::string_view value) {
    values_[index] = DecodeLine(value, scratch_[index]);
  };
  values_[0] = file_text_;
  values_[1] = Decimal(hit.file_index + 1, numbers_[0]);
  values_[2] = Decimal(hit.line_number, numbers_[1]);
  text(3, hit.line);
  text(4, hit.client);
  text(5, hit.location);
  text(6, hit.subject);
  text(7, hit.subject_b);
  values_[8] = hit.on_subject_b ? "subject_b" : "subject";
  text(9, hit.status);
  text(10, hit.method);
  text(11, hit.time);
  values_[12] = Decimal(hit.slot + 1, numbers_[2]);
  values_[13] = category.key;
  values_[14] = category.chinese;
  values_[15] = category.english;
  values_[16] = LayoutName(hit.layout);
  return values_;
}

}  // namespace ostrel
