// Fuzzes the run's fast path against the plain one: a subject is tested by the stored rule
// set behind the literal gate built with the program, and by every stored slot compiled as
// IsMatch compiles it, tried in order. The first slot that matches must be the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/compiled_rule_set.h"
#include "rules/new_des.h"
#include "rules/pcre2_handles.h"
#include "rules/rule_slots.h"

namespace {

struct Reference {
  std::vector<ostrel::pcre2::CodePtr> codes;
  std::vector<bool> jit;
  ostrel::pcre2::MatchDataPtr data = ostrel::pcre2::MakeMatchData();
  ostrel::pcre2::MatchContextPtr context = ostrel::pcre2::MakeLimitedMatchContext();
  ostrel::pcre2::JitStackPtr stack = ostrel::pcre2::AssignJitStack(context.get());

  Reference() {
    for (const std::string_view cipher : ostrel::StoredRuleSlots()) {
      codes.push_back(ostrel::pcre2::Compile(ostrel::DecryptHexText(cipher, ostrel::kRuleKeyText)));
      jit.push_back(ostrel::pcre2::JitCompile(codes.back().get()));
    }
  }

  // The first slot that matches; nullopt when none does or a test reached a limit.
  std::optional<std::size_t> FirstMatch(std::string_view subject, bool& limited) {
    for (std::size_t slot = 0; slot < codes.size(); ++slot) {
      switch (ostrel::pcre2::MatchOnce(codes[slot].get(), jit[slot], subject, data.get(),
                                       context.get())) {
        case ostrel::pcre2::Outcome::kMatch:
          return slot;
        case ostrel::pcre2::Outcome::kLimit:
          limited = true;
          break;
        case ostrel::pcre2::Outcome::kNoMatch:
          break;
      }
    }
    return std::nullopt;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Reference reference;
  static const ostrel::CompiledRuleSet rules(ostrel::StoredRuleSlots(),
                                             ostrel::StoredRuleSlots().size());
  static ostrel::RuleScratch scratch = rules.MakeScratch();
  if (!rules.uses_stored_gate()) std::abort();
  std::string subject(reinterpret_cast<const char*>(data), size);
  // The run lower-cases A-Z and hands over valid UTF-8 only.
  for (char& c : subject) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (!ostrel::pcre2::IsValidUtf8(subject)) return 0;
  bool limited = false;
  const std::optional<std::size_t> expected = reference.FirstMatch(subject, limited);
  const ostrel::RuleVerdict verdict = rules.Test(subject, scratch);
  if (expected) {
    if (!verdict.matched() || verdict.slot != *expected) std::abort();
  } else if (verdict.matched() || (!limited && verdict.outcome != ostrel::RuleOutcome::kNoMatch)) {
    std::abort();
  }
  return 0;
}
