// Fuzzes the rule cipher and the pattern compiler with outside data: a key text and a hex
// cipher text for DecryptHexText, and the same bytes as a pattern for IsMatch and a one-slot
// CompiledRuleSet. Input: byte 0 gives the key length, then the key, then the rest.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rules/compiled_rule_set.h"
#include "rules/is_match.h"
#include "rules/new_des.h"
#include "rules/pcre2_handles.h"

namespace {

void CheckCipher(std::string_view hex, std::string_view key) {
  const std::string plain = ostrel::DecryptHexText(hex, key);
  if (plain.find('\0') != std::string::npos) std::abort();
  if (plain.size() > (hex.size() + 1) / 2 + 7) std::abort();
  if (!plain.empty() &&
      ostrel::DecryptHexText(ostrel::EncryptToHexText(plain, key), key) != plain) {
    std::abort();
  }
}

void CheckPattern(std::string_view pattern, std::string_view subject) {
  const bool valid_pattern = ostrel::pcre2::IsValidUtf8(pattern);
  const bool valid_subject = ostrel::pcre2::IsValidUtf8(subject);
  // The cipher stops at a NUL, so such a pattern cannot be a slot.
  if (pattern.find('\0') != std::string_view::npos) return;
  const std::string hex = ostrel::EncryptToHexText(pattern, "tarvin");
  const std::string_view slots[] = {hex};
  const ostrel::CompiledRuleSet rules(slots, 1, "tarvin");
  ostrel::RuleScratch scratch = rules.MakeScratch();
  bool compiled = false;
  try {
    for (const std::string_view s : {std::string_view("get /index.php?id=1 http/1.1"),
                                     std::string_view("a\r\nb\xE2\x80\xA8"
                                                      "c\xF0\x9F\x98\x80"),
                                     std::string_view()}) {
      const ostrel::RuleVerdict verdict = rules.Test(s, scratch);
      compiled = true;
      if (!valid_pattern) std::abort();  // PCRE2 must refuse a pattern that is not UTF-8
      // The set answers as IsMatch unless a limit decided the answer.
      if (verdict.outcome != ostrel::RuleOutcome::kLimit &&
          verdict.matched() != ostrel::IsMatch(s, pattern)) {
        std::abort();
      }
    }
    // Subjects must be valid UTF-8: the run decodes every line before matching.
    if (valid_subject) (void)rules.Test(subject, scratch);
  } catch (const ostrel::ERegularExpressionError&) {
    if (compiled) std::abort();
  }
  if (!compiled) {
    bool raised = false;
    try {
      (void)ostrel::IsMatch("x", pattern);
    } catch (const ostrel::ERegularExpressionError&) {
      raised = true;
    }
    if (!raised) std::abort();  // IsMatch and the rule set must agree on errors
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t key_size =
      std::min<std::size_t>(static_cast<std::uint8_t>(input[0]) % 32, input.size() - 1);
  const std::string_view key = input.substr(1, key_size);
  const std::string_view rest = input.substr(1 + key_size);
  CheckCipher(rest, key);
  CheckPattern(rest, key);
  return 0;
}
