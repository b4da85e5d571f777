#include "rules/matcher.h"

#include <string.h>  // explicit_bzero

#include <cassert>
#include <stdexcept>
#include <utility>

#include "rules/is_match.h"
#include "rules/pcre2_handles.h"

namespace ostrel {

struct CompiledPattern::Handles {
  pcre2::CodePtr code;
  pcre2::MatchDataPtr data;
  pcre2::MatchContextPtr context;
  pcre2::JitStackPtr jit_stack;
};

CompiledPattern::CompiledPattern(std::string_view pattern) : handles_(std::make_unique<Handles>()) {
  handles_->code = pcre2::Compile(pattern);
  handles_->data = pcre2::MakeMatchData();
  handles_->context = pcre2::MakeLimitedMatchContext();
  jit_ = pcre2::JitCompile(handles_->code.get());
  if (jit_) handles_->jit_stack = pcre2::AssignJitStack(handles_->context.get());
}

CompiledPattern::~CompiledPattern() = default;
CompiledPattern::CompiledPattern(CompiledPattern&&) noexcept = default;
CompiledPattern& CompiledPattern::operator=(CompiledPattern&&) noexcept = default;

bool CompiledPattern::Matches(std::string_view subject) noexcept {
  assert(pcre2::IsValidUtf8(subject) && "Matches needs a valid UTF-8 subject");
  switch (pcre2::MatchOnce(handles_->code.get(), jit_, subject, handles_->data.get(),
                           handles_->context.get())) {
    case pcre2::Outcome::kMatch:
      return true;
    case pcre2::Outcome::kLimit:
      ++limit_failures_;
      return false;
    case pcre2::Outcome::kNoMatch:
      return false;
  }
  return false;
}

Matcher::Matcher(std::span<const std::string_view> cipher_slots, std::string_view key_text)
    : key_text_(key_text) {
  slots_.reserve(cipher_slots.size());
  for (const std::string_view cipher_text : cipher_slots) {
    slots_.push_back(Slot{std::string(cipher_text), std::nullopt, std::nullopt});
  }
}

CompiledPattern& Matcher::Compiled(Slot& slot) {
  if (slot.compiled) return *slot.compiled;
  if (slot.error) throw ERegularExpressionError(*slot.error);
  std::string plain = DecryptHexText(slot.cipher_text, key_text_);
  // We keep the plain pattern only until it is compiled, whatever the outcome.
  struct Wipe {
    std::string& text;
    ~Wipe() { explicit_bzero(text.data(), text.size()); }
  } wipe{plain};
  try {
    slot.compiled.emplace(plain);
  } catch (const ERegularExpressionError& error) {
    slot.error = error.what();
    throw;
  }
  return *slot.compiled;
}

void Matcher::Prepare() {
  std::vector<std::optional<std::vector<std::string>>> literals(slots_.size());
  for (std::size_t index = 0; index < slots_.size(); ++index) {
    Slot& slot = slots_[index];
    if (slot.error) continue;  // never gated: raised whenever the slot is asked
    std::string plain = DecryptHexText(slot.cipher_text, key_text_);
    struct Wipe {
      std::string& text;
      ~Wipe() { explicit_bzero(text.data(), text.size()); }
    } wipe{plain};
    if (!slot.compiled) {
      try {
        slot.compiled.emplace(plain);
      } catch (const ERegularExpressionError& error) {
        slot.error = error.what();
        continue;
      }
    }
    literals[index] = RequiredLiterals(plain);
  }
  try {
    gate_ = std::make_unique<LiteralGate>(literals);
    gate_scratch_.emplace(gate_->MakeScratch());
  } catch (const std::runtime_error&) {
    gate_scratch_.reset();
    gate_.reset();  // without a gate every slot is tested: same answers, only slower
  }
  prepared_ = true;
}

std::uint32_t Matcher::CandidateSlots(std::string_view subject) {
  if (!prepared_) Prepare();
  if (!gate_) return ~std::uint32_t{0};
  return gate_->Candidates(subject, *gate_scratch_);
}

bool Matcher::SlotMatches(std::size_t index, std::string_view subject) {
  if (index >= slots_.size()) throw std::out_of_range("rule slot index out of range");
  return Compiled(slots_[index]).Matches(subject);
}

std::uint64_t Matcher::limit_failures() const {
  std::uint64_t total = 0;
  for (const Slot& slot : slots_) {
    if (slot.compiled) total += slot.compiled->limit_failures();
  }
  return total;
}

}  // namespace ostrel
