#include "rules/compiled_rule_set.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "rules/is_match.h"
#include "rules/new_des.h"
#include "rules/rule_slots.h"
#include "tests/rules/match_cases.h"

namespace ostrel {
namespace {

class Slots {
 public:
  explicit Slots(const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns) hex_.push_back(EncryptToHexText(pattern, "tarvin"));
    views_.assign(hex_.begin(), hex_.end());
  }
  std::span<const std::string_view> span() const { return views_; }

 private:
  std::vector<std::string> hex_;
  std::vector<std::string_view> views_;
};

// The first slot IsMatch says matches, deciphering every slot afresh.
std::optional<std::size_t> FirstMatch(std::span<const std::string_view> slots,
                                      std::string_view subject) {
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (IsMatch(subject, DecryptHexText(slots[i], "tarvin"))) return i;
  }
  return std::nullopt;
}

// One set shared by several threads answers as deciphering and compiling for every test.
TEST(CompiledRuleSetTest, SharedByThreadsAnswersAsIsMatch) {
  std::vector<std::string> patterns;
  for (const MatchCase& c : kMatchCases) patterns.emplace_back(c.pattern);
  const Slots slots(patterns);
  const CompiledRuleSet rules(slots.span(), patterns.size());
  ASSERT_EQ(rules.slot_count(), patterns.size());
  std::vector<std::optional<std::size_t>> expected;
  for (const MatchCase& c : kMatchCases) expected.push_back(FirstMatch(slots.span(), c.subject));

  std::vector<int> wrong(4, 0);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        RuleScratch scratch = rules.MakeScratch();
        for (int pass = 0; pass < 50; ++pass) {
          for (std::size_t i = 0; i < std::size(kMatchCases); ++i) {
            const RuleVerdict verdict = rules.Test(kMatchCases[i].subject, scratch);
            const bool right = expected[i] ? verdict.matched() && verdict.slot == *expected[i]
                                           : verdict.outcome == RuleOutcome::kNoMatch;
            wrong[t] += right ? 0 : 1;
          }
        }
      });
    }
  }
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

TEST(CompiledRuleSetTest, SlotThatDoesNotCompileRaisesAtEveryUse) {
  const Slots slots({"first", "(", "x"});
  const CompiledRuleSet rules(slots.span(), 3);
  RuleScratch scratch = rules.MakeScratch();
  for (int i = 0; i < 3; ++i) {
    EXPECT_THROW(rules.Test("none", scratch), ERegularExpressionError);
    const RuleVerdict verdict = rules.Test("first", scratch);
    EXPECT_TRUE(verdict.matched());
    EXPECT_EQ(verdict.slot, 0U);
  }
}

TEST(CompiledRuleSetTest, OnlyTheSetsSlotsAreTested) {
  const Slots slots({"a1", "a2", "a3"});
  const CompiledRuleSet rules(slots.span(), 2);
  RuleScratch scratch = rules.MakeScratch();
  EXPECT_EQ(rules.Test("a2 a3", scratch).slot, 1U);
  EXPECT_EQ(rules.Test("a3", scratch).outcome, RuleOutcome::kNoMatch);
}

// A test that stops at a limit is its own outcome, unless a later slot matches.
TEST(CompiledRuleSetTest, LimitIsReportedWhenNoSlotMatches) {
  const Slots slots({"(\\w+\\s?)+$", "never"});
  const CompiledRuleSet rules(slots.span(), 2);
  RuleScratch scratch = rules.MakeScratch();
  std::string subject(1 << 20, 'a');
  subject.back() = '!';
  EXPECT_EQ(rules.Test(subject, scratch).outcome, RuleOutcome::kLimit);
  subject += " never";
  const RuleVerdict verdict = rules.Test(subject, scratch);
  EXPECT_TRUE(verdict.matched());
  EXPECT_EQ(verdict.slot, 1U);
}

// The set keeps its own copies of the cipher texts, deciphers with the key it was given,
// and takes the gate built with the program only for the stored slots under the stored key.
TEST(CompiledRuleSetTest, OwnCopiesOtherKeysAndTheStoredGate) {
  std::vector<std::string> hex = {EncryptToHexText("union.*select", "another key")};
  std::vector<std::string_view> views(hex.begin(), hex.end());
  const CompiledRuleSet rules(views, 1, "another key");
  hex.assign(1, std::string(hex[0].size(), '0'));
  RuleScratch scratch = rules.MakeScratch();
  EXPECT_TRUE(rules.Test("get /?q=union all select 1 http/1.1", scratch).matched());
  EXPECT_FALSE(rules.uses_stored_gate());
  EXPECT_TRUE(CompiledRuleSet(StoredRuleSlots(), 6).uses_stored_gate());
  // Some stored slots, out of their order: the stored gate still, each slot's own bit.
  const std::string_view reversed[] = {StoredRuleSlots()[3], StoredRuleSlots()[0]};
  const CompiledRuleSet some(reversed, 2);
  RuleScratch some_scratch = some.MakeScratch();
  EXPECT_TRUE(some.uses_stored_gate());
  const RuleVerdict sql = some.Test("get /?q=1%27%20or%20%271%27=%271 http/1.1", some_scratch);
  ASSERT_TRUE(sql.matched());
  EXPECT_EQ(sql.slot, 1u);
  const RuleVerdict command = some.Test("get /?h=x;cat%20/etc/passwd http/1.1", some_scratch);
  ASSERT_TRUE(command.matched());
  EXPECT_EQ(command.slot, 0u);
}

}  // namespace
}  // namespace ostrel
