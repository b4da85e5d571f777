#pragma once

// Compiled patterns for a run: every rule slot is deciphered and compiled once, on first
// use, and its plain text is wiped right after compiling. A literal gate, built from the
// plain texts when it is first asked for, tells which slots a subject may match. Answers are those
// of IsMatch(subject, DecryptHexText(slot, key)) for every subject that reaches no match limit.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rules/literal_gate.h"
#include "rules/new_des.h"

namespace ostrel {

// One compiled pattern with its own match data, match context and JIT stack.
// Movable, not copyable; a moved-from object may only be destroyed or assigned to.
// Matches() is not thread-safe: give every thread its own object.
class CompiledPattern {
 public:
  // Compiles pattern as IsMatch does (JIT-compiled as well when PCRE2 supports it).
  // Throws ERegularExpressionError exactly as IsMatch would for the same pattern.
  explicit CompiledPattern(std::string_view pattern);
  ~CompiledPattern();
  CompiledPattern(CompiledPattern&&) noexcept;
  CompiledPattern& operator=(CompiledPattern&&) noexcept;
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;

  // Same answer as IsMatch(subject, pattern); allocates nothing. A match that reaches the
  // match or depth limit answers false and is counted. Precondition: subject is valid
  // UTF-8. Never throws.
  bool Matches(std::string_view subject) noexcept;

  // Number of Matches() calls that ended at a match or depth limit.
  std::uint64_t limit_failures() const { return limit_failures_; }

  // Whether the pattern runs JIT-compiled code.
  bool jit() const { return jit_; }

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
  bool jit_ = false;
  std::uint64_t limit_failures_ = 0;
};

// The rule slots of a run. Not thread-safe: every worker thread holds its own Matcher
// (compiling costs some microseconds per slot and thread, once per run).
class Matcher {
 public:
  // Copies the hex cipher texts of the slots; nothing is deciphered or compiled yet.
  explicit Matcher(std::span<const std::string_view> cipher_slots,
                   std::string_view key_text = kRuleKeyText);

  // Whether slot index (0-based) matches subject: the same answer as
  // IsMatch(subject, DecryptHexText(slot, key_text)). The slot is deciphered and compiled on
  // its first use, and its plain text wiped right after compiling. Throws
  // ERegularExpressionError every time it is asked about a slot that does not compile (an
  // empty plain text included), std::out_of_range for index >= SlotCount().
  // Precondition: subject is valid UTF-8.
  bool SlotMatches(std::size_t index, std::string_view subject);

  // Bit i is set when slot i (i < 32) may match subject; a clear bit means
  // SlotMatches(i, subject) is false. Slots without a literal gate (patterns the analysis does
  // not follow, slots that fail to compile) are always set, so a broken slot still raises its
  // error when it is asked. Slots from index 32 on are not covered: treat them as candidates.
  // The first call deciphers every slot, compiles those not yet compiled and builds the
  // gate; the plain texts are wiped right after. Throws only
  // std::bad_alloc. Precondition: subject is valid UTF-8.
  std::uint32_t CandidateSlots(std::string_view subject);

  std::size_t SlotCount() const { return slots_.size(); }

  // Matches of all slots that ended at a match or depth limit (counted as no match).
  std::uint64_t limit_failures() const;

 private:
  struct Slot {
    std::string cipher_text;
    std::optional<CompiledPattern> compiled;
    // The message of a slot that failed to compile; it is raised again on every use.
    std::optional<std::string> error;
  };
  CompiledPattern& Compiled(Slot& slot);
  // Deciphers and compiles every slot once and builds the literal gate from their plain
  // texts. A slot that does not compile keeps its error for its next use.
  void Prepare();

  std::string key_text_;
  std::vector<Slot> slots_;
  bool prepared_ = false;
  // Holds only the slots' required literals, never their plain texts; null: no gate.
  std::unique_ptr<LiteralGate> gate_;
  std::optional<LiteralGate::Scratch> gate_scratch_;
};

}  // namespace ostrel
