#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "engine/options.h"

namespace ostrel {

// A multi-pattern prefilter for the rule set: the set's patterns compiled together with
// Vectorscan in prefilter mode. It may answer "may match" where no pattern matches, but
// never "cannot match" where one does, so skipping the rule tests of subjects it rejects
// leaves every answer unchanged; PCRE2 still decides every candidate.
class RulePrefilter {
 public:
  // Deciphers the slots of `rule_set` (as HitDecider counts them) and compiles them.
  // Gives nullptr, meaning every subject must be tested, when Vectorscan is unusable or any
  // pattern is empty, holds a NUL byte, or fails to compile with PCRE2 or Vectorscan (so a
  // broken rule is still reported by the decider at the very line it would be anyway).
  // The plain patterns are wiped before it returns.
  static std::unique_ptr<const RulePrefilter> Build(std::span<const std::string_view> cipher_slots,
                                                    RuleSet rule_set);
  struct Database;
  struct Key {
    explicit Key() = default;
  };
  // Only Build() makes one (it alone can name Key).
  RulePrefilter(Key, std::unique_ptr<Database> database);
  ~RulePrefilter();
  RulePrefilter(const RulePrefilter&) = delete;
  RulePrefilter& operator=(const RulePrefilter&) = delete;

  // The per-thread side of the prefilter (Vectorscan scratch space). Not thread-safe: one
  // per worker thread. The prefilter must outlive it.
  class Scanner {
   public:
    // Throws std::bad_alloc when the scratch space cannot be made.
    explicit Scanner(const RulePrefilter& prefilter);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // False only when no pattern of the set can match `subject` (valid UTF-8). Subjects
    // holding line-break characters that PCRE2's NEWLINE_ANY knows but Vectorscan does
    // not (VT, FF, NEL, LS, PS) always answer true. Allocates nothing.
    bool MayMatch(std::string_view subject);

   private:
    const RulePrefilter& prefilter_;
    struct Scratch;
    std::unique_ptr<Scratch> scratch_;
  };

 private:
  std::unique_ptr<Database> database_;
};

}  // namespace ostrel
