#include "rules/compiled_rule_set.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <cassert>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "rules/is_match.h"
#include "rules/literal_gate.h"
#include "rules/pcre2_handles.h"
#include "rules/stored_rule_gate.h"

namespace ostrel {
namespace {

// A deciphered pattern, wiped when it goes: we keep the plain text only until it is
// compiled or analysed, whatever the outcome.
class PlainPattern {
 public:
  PlainPattern(std::string_view cipher_text, std::string_view key_text)
      : text_(DecryptHexText(cipher_text, key_text)) {}
  ~PlainPattern() { explicit_bzero(text_.data(), text_.size()); }
  PlainPattern(const PlainPattern&) = delete;
  PlainPattern& operator=(const PlainPattern&) = delete;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace

struct CompiledRuleSet::Slot {
  std::string cipher_text;
  std::once_flag once;
  pcre2::CodePtr code;  // null when the slot does not compile
  bool jit = false;
  std::string error;  // why it does not compile; raised at every use
};

// The literal gate: the one built with the program when the set's slots are the stored
// ones, otherwise built from every slot's plain text the first time a subject is tested.
struct CompiledRuleSet::Gate {
  std::unique_ptr<LiteralGate> literals;  // null: every slot is tested
  bool stored = false;
  // For the stored gate: the stored slot each of the set's slots is; empty when the set's
  // slots are the stored ones in their order.
  std::vector<std::size_t> stored_index;
};

struct RuleScratch::State {
  pcre2::MatchDataPtr data;
  pcre2::MatchContextPtr context;
  pcre2::JitStackPtr jit_stack;
  std::optional<LiteralGate::Scratch> gate;  // made on the first test
};

RuleScratch::RuleScratch(std::unique_ptr<State> state) : state_(std::move(state)) {}
RuleScratch::RuleScratch(RuleScratch&&) noexcept = default;
RuleScratch& RuleScratch::operator=(RuleScratch&&) noexcept = default;
RuleScratch::~RuleScratch() = default;

CompiledRuleSet::CompiledRuleSet(std::span<const std::string_view> cipher_slots,
                                 std::size_t slot_count, std::string_view key_text)
    : key_text_(key_text),
      slot_count_(std::min(slot_count, cipher_slots.size())),
      slots_(std::make_unique<Slot[]>(slot_count_)) {
  for (std::size_t i = 0; i < slot_count_; ++i) slots_[i].cipher_text = cipher_slots[i];
}

CompiledRuleSet::~CompiledRuleSet() = default;

RuleScratch CompiledRuleSet::MakeScratch() const {
  auto state = std::make_unique<RuleScratch::State>();
  state->data = pcre2::MakeMatchData();
  state->context = pcre2::MakeLimitedMatchContext();
  state->jit_stack = pcre2::AssignJitStack(state->context.get());
  return RuleScratch(std::move(state));
}

const CompiledRuleSet::Slot& CompiledRuleSet::Compiled(std::size_t index) const {
  Slot& slot = slots_[index];
  std::call_once(slot.once, [&] {
    const PlainPattern plain(slot.cipher_text, key_text_);
    try {
      slot.code = pcre2::Compile(plain.text());
      slot.jit = pcre2::JitCompile(slot.code.get());
    } catch (const ERegularExpressionError& error) {
      slot.error = error.what();
    }
  });
  if (!slot.code) throw ERegularExpressionError(slot.error);
  return slot;
}

void CompiledRuleSet::Prepare(std::size_t index) const {
  if (index >= slot_count_) return;
  try {
    Compiled(index);
  } catch (const ERegularExpressionError&) {
    // Raised again by Test, for the subject that reaches the slot.
  }
}

std::unique_ptr<LiteralGate> CompiledRuleSet::StoredGate(
    std::vector<std::size_t>& stored_index) const {
  const StoredRuleGate& stored = StoredRuleGateData();
  if (slot_count_ > 32) return nullptr;
  bool in_order = true;
  stored_index.clear();
  for (std::size_t index = 0; index < slot_count_; ++index) {
    const std::uint64_t fingerprint = SlotFingerprint(key_text_, slots_[index].cipher_text);
    const auto found =
        std::find(stored.slot_fingerprints.begin(), stored.slot_fingerprints.end(), fingerprint);
    if (found == stored.slot_fingerprints.end()) return nullptr;
    const auto at = static_cast<std::size_t>(found - stored.slot_fingerprints.begin());
    if (at >= 32) return nullptr;
    in_order = in_order && at == index;
    stored_index.push_back(at);
  }
  if (in_order) stored_index.clear();
  // Null as well when this CPU cannot run the stored database.
  return LiteralGate::Load(stored.database, stored.always_slots, stored.gated_slots);
}

const CompiledRuleSet::Gate& CompiledRuleSet::PreparedGate() const {
  std::call_once(gate_once_, [&] {
    auto gate = std::make_unique<Gate>();
    gate->literals = StoredGate(gate->stored_index);
    if (gate->literals) {
      gate->stored = true;
      gate_ = std::move(gate);
      return;
    }
    std::vector<std::optional<std::vector<std::string>>> literals(slot_count_);
    for (std::size_t index = 0; index < slot_count_; ++index) {
      try {
        Compiled(index);
      } catch (const ERegularExpressionError&) {
        continue;  // never gated: its error is raised whenever it is reached
      }
      const PlainPattern plain(slots_[index].cipher_text, key_text_);
      literals[index] = RequiredLiterals(plain.text());
    }
    try {
      gate->literals = std::make_unique<LiteralGate>(literals);
    } catch (const std::runtime_error&) {
      gate->literals.reset();  // without a gate every slot is tested: same answers, slower
    }
    gate_ = std::move(gate);
  });
  return *gate_;
}

bool CompiledRuleSet::uses_stored_gate() const { return PreparedGate().stored; }

RuleVerdict CompiledRuleSet::Test(std::string_view subject, RuleScratch& scratch) const {
  assert(pcre2::IsValidUtf8(subject) && "Test needs a valid UTF-8 subject");
  RuleScratch::State& state = *scratch.state_;
  std::uint32_t candidates = ~std::uint32_t{0};
  if (const Gate& gate = PreparedGate(); gate.literals) {
    if (!state.gate) state.gate.emplace(gate.literals->MakeScratch());
    candidates = gate.literals->Candidates(subject, *state.gate);
    if (!gate.stored_index.empty()) {
      // Some of the stored slots, or in another order: each slot's bit from its stored one.
      const std::uint32_t stored = candidates;
      candidates = 0;
      for (std::size_t index = 0; index < gate.stored_index.size(); ++index) {
        candidates |= ((stored >> gate.stored_index[index]) & 1U) << index;
      }
    }
  }
  bool limited = false;
  bool patterns_run = false;
  for (std::size_t index = 0; index < slot_count_; ++index) {
    // A slot whose required literals are all absent cannot match. Slots from 32 on are not
    // gated.
    if (index < 32 && ((candidates >> index) & 1U) == 0) continue;
    const Slot& slot = Compiled(index);
    patterns_run = true;
    switch (pcre2::MatchOnce(slot.code.get(), slot.jit, subject, state.data.get(),
                             state.context.get())) {
      case pcre2::Outcome::kMatch:
        return RuleVerdict{RuleOutcome::kMatch, index, true};
      case pcre2::Outcome::kLimit:
        limited = true;
        break;
      case pcre2::Outcome::kNoMatch:
        break;
    }
  }
  return RuleVerdict{limited ? RuleOutcome::kLimit : RuleOutcome::kNoMatch, 0, patterns_run};
}

}  // namespace ostrel
