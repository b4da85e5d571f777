#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/log_line.h"
#include "engine/options.h"
#include "rules/compiled_rule_set.h"

namespace ostrel {

class GateMemo;
class PatternMemo;

// The plain static-resource pattern: pictures, Flash files and (only where a space
// follows) style sheets, anywhere in the subject.
inline constexpr std::string_view kStaticResourcePattern =
    "\\.ico|\\.bmp|\\.jpg|\\.gif|\\.png|\\.tif|\\.pcx|\\.wmf|\\.cdr|\\.eps|\\.emf|\\.pic|"
    "\\.swf|\\.css ";

// Whether subject matches kStaticResourcePattern: the same answer, found with a byte search
// instead of a pattern match on every line. Never throws.
bool HasStaticResourceName(std::string_view subject) noexcept;

// What became of one extracted line.
enum class LineFate : std::uint8_t {
  kHit,            // a rule slot matched
  kStaticDropped,  // the static filter dropped it
  kStatusDropped,  // the status filter dropped it
  kClean,          // no rule slot matched
  kLimited,        // no rule slot matched, and a rule test stopped at a match or depth limit
};

struct HitVerdict {
  LineFate fate = LineFate::kClean;
  std::size_t slot = 0;       // for a hit: the 0-based index of the slot that matched first
  bool on_subject_b = false;  // for a hit: the slot matched SubjectB (log type 0)
  bool hit() const { return fate == LineFate::kHit; }
};

// Decides whether an extracted line is a hit, with the options of one run and the run's
// shared rule set. Owns its scratch for the rule tests and the compiled static-resource
// pattern. One per worker thread: not thread-safe.
class HitDecider {
 public:
  // Uses options.log_type, drop_static and status_200_only; the rule set decides which
  // slots are tested. `rules` must outlive the decider.
  HitDecider(const RunOptions& options, const CompiledRuleSet& rules);
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
  HitVerdict Decide(const TLogLine& line);

  // Decide(line).hit().
  bool IsSuspiciousLine(const TLogLine& line) { return Decide(line).hit(); }

 private:
  // Where a subject's verdict is remembered; memorable is false for a subject too long.
  struct MemoKey {
    bool memorable = false;
    std::size_t hash = 0;
  };
  static MemoKey KeyOf(std::string_view subject);
  RuleVerdict TestRules(std::string_view subject, MemoKey key);

  LogType log_type_;
  bool drop_static_;
  bool status_200_only_;
  const CompiledRuleSet* rules_;
  std::unique_ptr<RuleScratch> scratch_;
  std::unique_ptr<GateMemo> gate_memo_;        // recent verdicts of the literal gate alone
  std::unique_ptr<PatternMemo> pattern_memo_;  // recent verdicts that took pattern matches
};

}  // namespace ostrel
