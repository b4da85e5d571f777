#include "engine/hit_decision.h"

#include <algorithm>

#include "engine/line_error.h"
#include "rules/matcher.h"

namespace ostrel {

HitDecider::HitDecider(const RunOptions& options, std::span<const std::string_view> cipher_slots)
    : log_type_(options.log_type),
      drop_static_(options.drop_static),
      status_200_only_(options.status_200_only),
      matcher_(std::make_unique<Matcher>(cipher_slots, kRuleKeyText)) {
  const std::size_t wanted =
      options.rule_set == RuleSet::kCompact ? kCompactSlotCount : kBroadSlotCount;
  slot_count_ = std::min(wanted, matcher_->SlotCount());
  if (drop_static_) static_pattern_ = std::make_unique<CompiledPattern>(kStaticResourcePattern);
}

HitDecider::~HitDecider() = default;
HitDecider::HitDecider(HitDecider&&) noexcept = default;
HitDecider& HitDecider::operator=(HitDecider&&) noexcept = default;

bool HitDecider::IsSuspiciousLine(const TLogLine& line) {
  if (drop_static_ && static_pattern_->Matches(line.SubjectA)) return false;
  if (status_200_only_) {
    const std::optional<std::int32_t> status = ReadInteger(line.StatusText);
    if (!status) throw LineError::StatusNotInteger(line.StatusText);
    if (*status != 200) return false;
  }
  if (AnySlotMatches(line.SubjectA)) return true;
  return log_type_ == LogType::kIis && AnySlotMatches(line.SubjectB);
}

bool HitDecider::AnySlotMatches(std::string_view subject) {
  for (std::size_t slot = 0; slot < slot_count_; ++slot) {
    if (matcher_->SlotMatches(slot, subject)) return true;
  }
  return false;
}

}  // namespace ostrel
