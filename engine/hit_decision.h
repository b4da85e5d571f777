#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "engine/log_line.h"
#include "engine/options.h"

namespace ostrel {

class CompiledPattern;
class Matcher;
class VerdictMemo;

// The plain static-resource pattern: pictures, Flash files and (only where a space
// follows) style sheets, anywhere in the subject.
inline constexpr std::string_view kStaticResourcePattern =
    "\\.ico|\\.bmp|\\.jpg|\\.gif|\\.png|\\.tif|\\.pcx|\\.wmf|\\.cdr|\\.eps|\\.emf|\\.pic|"
    "\\.swf|\\.css ";
// Slots tested by the compact set (1 to 6) and by the broad set (1 to 8).
inline constexpr std::size_t kCompactSlotCount = 6;
inline constexpr std::size_t kBroadSlotCount = 8;

// Decides whether an extracted line is a hit, with the options of one run. Owns the rule
// matcher (key text kRuleKeyText, "tarvin") and the compiled static-resource pattern. One per
// worker thread: not thread-safe.
class HitDecider {
 public:
  // `cipher_slots` are the rule slots' stored texts (StoredRuleSlots() in the program);
  // they are copied. Rule slots are deciphered and compiled on first use; the static
  // pattern now. Uses options.log_type, rule_set, drop_static and status_200_only.
  HitDecider(const RunOptions& options, std::span<const std::string_view> cipher_slots);
  ~HitDecider();
  HitDecider(HitDecider&&) noexcept;
  HitDecider& operator=(HitDecider&&) noexcept;
  HitDecider(const HitDecider&) = delete;
  HitDecider& operator=(const HitDecider&) = delete;

  // In this order: with drop_static, a SubjectA that the static-resource pattern matches
  // is no hit; with status_200_only, StatusText is read (ReadInteger) and anything but 200
  // is no hit; then the set's slots in ascending order on SubjectA, and for log type 0
  // then on SubjectB, until the first match, which makes the line a hit.
  // Throws LineError when status_200_only is on and StatusText is not an integer, and
  // ERegularExpressionError when a slot's pattern does not compile.
  bool IsSuspiciousLine(const TLogLine& line);

 private:
  bool AnySlotMatches(std::string_view subject);

  LogType log_type_;
  bool drop_static_;
  bool status_200_only_;
  std::size_t slot_count_;  // the set's slot count, limited to the slots given
  std::unique_ptr<Matcher> matcher_;
  std::unique_ptr<CompiledPattern> static_pattern_;
  std::unique_ptr<VerdictMemo> memo_;  // rule verdicts of recent short subjects
};

}  // namespace ostrel
