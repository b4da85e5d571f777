#pragma once

// The rule slots of a run, built once and shared read-only by every worker thread: each
// slot is deciphered and compiled (JIT where PCRE2 has it) on its first use, and its plain
// text wiped right after. Each thread brings its own RuleScratch (match data, JIT stack,
// literal gate scratch). Answers are those of IsMatch(subject, DecryptHexText(slot, key)).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rules/new_des.h"

namespace ostrel {

// What the rule tests of one subject gave.
enum class RuleOutcome : std::uint8_t {
  kNoMatch,  // every slot tested answered no
  kMatch,    // `slot` matched; later slots were not tested
  kLimit,    // no slot matched, and at least one test stopped at a match or depth limit
};

struct RuleVerdict {
  RuleOutcome outcome = RuleOutcome::kNoMatch;
  std::size_t slot = 0;       // for kMatch: the 0-based index of the first slot that matched
  bool patterns_run = false;  // false when the literal gate alone gave the answer
  bool matched() const { return outcome == RuleOutcome::kMatch; }
};

class CompiledRuleSet;
class LiteralGate;

// One thread's working memory for CompiledRuleSet::Test. Not thread-safe; movable.
class RuleScratch {
 public:
  RuleScratch(RuleScratch&&) noexcept;
  RuleScratch& operator=(RuleScratch&&) noexcept;
  ~RuleScratch();

 private:
  friend class CompiledRuleSet;
  struct State;
  explicit RuleScratch(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class CompiledRuleSet {
 public:
  // Keeps copies of the first `slot_count` hex cipher texts of `cipher_slots` (fewer when
  // fewer are given); nothing is deciphered or compiled yet.
  CompiledRuleSet(std::span<const std::string_view> cipher_slots, std::size_t slot_count,
                  std::string_view key_text = kRuleKeyText);
  ~CompiledRuleSet();
  CompiledRuleSet(const CompiledRuleSet&) = delete;
  CompiledRuleSet& operator=(const CompiledRuleSet&) = delete;

  // Working memory for one thread. Throws std::bad_alloc.
  RuleScratch MakeScratch() const;

  // Tests `subject` against the slots in ascending order until one matches. A slot whose
  // required literals the subject lacks cannot match and is skipped. Thread-safe for
  // distinct scratches. Throws ERegularExpressionError each time a slot that does not
  // compile is reached (slots before it have answered no), and std::bad_alloc.
  // Precondition: subject is valid UTF-8; `scratch` came from this set.
  RuleVerdict Test(std::string_view subject, RuleScratch& scratch) const;

  std::size_t slot_count() const { return slot_count_; }

  // Deciphers and compiles slot `index` now instead of when a subject first reaches it, so
  // that threads can share the compiling at the start of a long run. A slot that does not
  // compile keeps its error for Test. Thread-safe; throws std::bad_alloc only.
  void Prepare(std::size_t index) const;

  // Whether the set gates its slots with the literal database built with the program (each
  // of its slots is one of the stored ones, in any order, and this CPU runs that database)
  // rather than one built now.
  bool uses_stored_gate() const;

 private:
  struct Slot;
  struct Gate;
  std::unique_ptr<LiteralGate> StoredGate(std::vector<std::size_t>& stored_index) const;
  const Slot& Compiled(std::size_t index) const;
  const Gate& PreparedGate() const;

  std::string key_text_;
  std::size_t slot_count_;
  std::unique_ptr<Slot[]> slots_;
  mutable std::once_flag gate_once_;
  mutable std::unique_ptr<Gate> gate_;
};

}  // namespace ostrel
