#include "engine/hit_decision.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>

#include "engine/line_error.h"
#include "rules/matcher.h"

namespace ostrel {

// The rule verdicts of recent subjects. Logs repeat the same methods, queries and requests
// over and over, and within a run a subject's verdict never changes, so a repeated subject
// skips its pattern matches. A fixed table of inline entries: no allocation after
// construction, constant memory (about 0.5 MB), a newer subject replaces an older one in
// its entry.
class VerdictMemo {
 public:
  static constexpr std::size_t kEntries = 4096;  // a power of two
  static constexpr std::size_t kMaxSubject = 104;

  VerdictMemo() : entries_(std::make_unique<Entry[]>(kEntries)) {}

  static bool Fits(std::string_view subject) { return subject.size() <= kMaxSubject; }

  // The remembered verdict of `subject`, if any. Precondition: Fits(subject).
  std::optional<bool> Find(std::string_view subject, std::size_t hash) const {
    const Entry& entry = entries_[hash & (kEntries - 1)];
    if (!entry.used || entry.hash != hash || entry.size != subject.size() ||
        (!subject.empty() && std::memcmp(entry.text, subject.data(), subject.size()) != 0)) {
      return std::nullopt;
    }
    return entry.verdict;
  }

  // Precondition: Fits(subject).
  void Store(std::string_view subject, std::size_t hash, bool verdict) {
    Entry& entry = entries_[hash & (kEntries - 1)];
    entry.used = true;
    entry.verdict = verdict;
    entry.hash = hash;
    entry.size = static_cast<std::uint8_t>(subject.size());
    // An empty view may have no data pointer, which memcpy must not be given.
    if (!subject.empty()) std::memcpy(entry.text, subject.data(), subject.size());
  }

 private:
  struct Entry {
    std::size_t hash = 0;
    std::uint8_t size = 0;
    bool used = false;
    bool verdict = false;
    char text[kMaxSubject];
  };
  static_assert(kMaxSubject <= 255, "entry sizes are stored in one byte");

  std::unique_ptr<Entry[]> entries_;
};

HitDecider::HitDecider(const RunOptions& options, std::span<const std::string_view> cipher_slots)
    : log_type_(options.log_type),
      drop_static_(options.drop_static),
      status_200_only_(options.status_200_only),
      matcher_(std::make_unique<Matcher>(cipher_slots, kRuleKeyText)) {
  const std::size_t wanted =
      options.rule_set == RuleSet::kCompact ? kCompactSlotCount : kBroadSlotCount;
  slot_count_ = std::min(wanted, matcher_->SlotCount());
  if (drop_static_) static_pattern_ = std::make_unique<CompiledPattern>(kStaticResourcePattern);
  memo_ = std::make_unique<VerdictMemo>();
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
  const bool memorable = VerdictMemo::Fits(subject);
  std::size_t hash = 0;
  if (memorable) {
    hash = std::hash<std::string_view>{}(subject);
    if (const std::optional<bool> verdict = memo_->Find(subject, hash)) return *verdict;
  }
  bool verdict = false;
  // A slot whose required literals are all absent cannot match: it is skipped. Slots keep
  // their order, so a broken slot still raises its error exactly when it did before.
  const std::uint32_t candidates = slot_count_ > 0 ? matcher_->CandidateSlots(subject) : 0;
  for (std::size_t slot = 0; slot < slot_count_ && !verdict; ++slot) {
    if (slot < 32 && ((candidates >> slot) & 1U) == 0) continue;
    verdict = matcher_->SlotMatches(slot, subject);
  }
  // Only a verdict reached without an error is remembered, so a slot that does not compile
  // raises its error again for the same subject.
  if (memorable) memo_->Store(subject, hash, verdict);
  return verdict;
}

}  // namespace ostrel
