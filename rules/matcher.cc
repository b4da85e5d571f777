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

namespace {
// The JIT stack grows on demand up to this size; a pattern that needs more falls back to
// the interpreter, which answers as IsMatch does.
constexpr std::size_t kJitStackStart = 32 * 1024;
constexpr std::size_t kJitStackMax = 1024 * 1024;
}  // namespace

CompiledPattern::CompiledPattern(std::string_view pattern) : handles_(std::make_unique<Handles>()) {
  handles_->code = pcre2::Compile(pattern);
  handles_->data = pcre2::MakeMatchData();
  handles_->context = pcre2::MakeLimitedMatchContext();
  jit_ = pcre2_jit_compile(handles_->code.get(), PCRE2_JIT_COMPLETE) == 0;
  if (jit_) {
    handles_->jit_stack.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
    // Without a stack of our own JIT uses 32 KiB on the machine stack; still correct.
    if (handles_->jit_stack) {
      pcre2_jit_stack_assign(handles_->context.get(), nullptr, handles_->jit_stack.get());
    }
  }
}

CompiledPattern::~CompiledPattern() = default;
CompiledPattern::CompiledPattern(CompiledPattern&&) noexcept = default;
CompiledPattern& CompiledPattern::operator=(CompiledPattern&&) noexcept = default;

bool CompiledPattern::Matches(std::string_view subject) noexcept {
  assert(pcre2::IsValidUtf8(subject) && "Matches needs a valid UTF-8 subject");
  const PCRE2_SPTR pointer = pcre2::SubjectPointer(subject);
  int rc = pcre2_match(handles_->code.get(), pointer, subject.size(), 0, pcre2::kMatchOptions,
                       handles_->data.get(), handles_->context.get());
  if (jit_ && pcre2::Classify(rc) == pcre2::Outcome::kLimit) {
    // JIT counts its limits differently from the interpreter; the interpreter decides, so a
    // limit gives the same answer as IsMatch.
    rc = pcre2_match(handles_->code.get(), pointer, subject.size(), 0,
                     pcre2::kMatchOptions | PCRE2_NO_JIT, handles_->data.get(),
                     handles_->context.get());
  }
  switch (pcre2::Classify(rc)) {
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
  } catch (const std::runtime_error&) {
    gate_.reset();  // without a gate every slot is tested: same answers, only slower
  }
  prepared_ = true;
}

std::uint32_t Matcher::CandidateSlots(std::string_view subject) {
  if (!prepared_) Prepare();
  if (!gate_) return ~std::uint32_t{0};
  return gate_->Candidates(subject);
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
