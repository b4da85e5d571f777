#include "rules/matcher.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rules/is_match.h"
#include "rules/new_des.h"
#include "tests/rules/match_cases.h"

namespace ostrel {
namespace {

std::vector<std::string> EncipheredPatterns() {
  std::vector<std::string> hex;
  for (const MatchCase& c : kMatchCases) hex.push_back(EncryptToHexText(c.pattern, "tarvin"));
  return hex;
}

// The cache must answer exactly as deciphering and compiling for every test would.
TEST(MatcherTest, AnswersAsIsMatchOverEverySlotAndSubject) {
  const std::vector<std::string> hex = EncipheredPatterns();
  const std::vector<std::string_view> slots(hex.begin(), hex.end());
  Matcher matcher(slots);
  ASSERT_EQ(matcher.SlotCount(), slots.size());
  // Every slot against every subject, twice, so that later uses of a compiled slot are
  // covered as well as the first.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
      for (const MatchCase& c : kMatchCases) {
        EXPECT_EQ(matcher.SlotMatches(slot, c.subject),
                  IsMatch(c.subject, DecryptHexText(slots[slot], "tarvin")))
            << "slot " << kMatchCases[slot].name << " subject " << c.name;
      }
    }
  }
  EXPECT_EQ(matcher.limit_failures(), 0U);
}

TEST(MatcherTest, KeepsItsOwnCopyOfTheCipherTexts) {
  std::vector<std::string> hex = {EncryptToHexText("union.*select", "tarvin")};
  std::vector<std::string_view> slots(hex.begin(), hex.end());
  Matcher matcher(slots);
  hex.assign(1, std::string(hex[0].size(), '0'));
  EXPECT_TRUE(matcher.SlotMatches(0, "1 union select 2"));
  EXPECT_FALSE(matcher.SlotMatches(0, "select union"));
}

TEST(MatcherTest, OtherKeyText) {
  const std::string hex = EncryptToHexText("abc", "another key");
  const std::string_view slots[] = {hex};
  Matcher matcher(slots, "another key");
  EXPECT_TRUE(matcher.SlotMatches(0, "xabcx"));
}

struct BadSlot {
  std::string_view name;
  std::string hex;
  std::string_view message;
};

class MatcherBadSlotTest : public testing::TestWithParam<BadSlot> {};

TEST_P(MatcherBadSlotTest, RaisesEveryTimeAndLeavesOtherSlotsWorking) {
  const std::string good = EncryptToHexText("select", "tarvin");
  const std::string_view slots[] = {good, GetParam().hex, good};
  Matcher matcher(slots);
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      matcher.SlotMatches(1, "select");
      ADD_FAILURE() << "no error on attempt " << attempt;
    } catch (const ERegularExpressionError& error) {
      EXPECT_EQ(std::string_view(error.what()), GetParam().message);
    }
    EXPECT_TRUE(matcher.SlotMatches(0, "select"));
    EXPECT_TRUE(matcher.SlotMatches(2, "select"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Slots, MatcherBadSlotTest,
    testing::Values(BadSlot{"DoesNotCompile", EncryptToHexText("a(b", "tarvin"),
                            "Error in regular expression at offset 3: missing closing parenthesis"},
                    BadSlot{"EmptyCipherText", "", kEmptyPatternMessage},
                    BadSlot{"NotHex", "C5ED58A844D6C0AG", kEmptyPatternMessage}),
    [](const testing::TestParamInfo<BadSlot>& info) { return std::string(info.param.name); });

TEST(MatcherTest, IndexOutOfRangeThrows) {
  const std::string hex = EncryptToHexText("a", "tarvin");
  const std::string_view slots[] = {hex};
  Matcher matcher(slots);
  EXPECT_THROW(matcher.SlotMatches(1, "a"), std::out_of_range);
}

TEST(CompiledPatternTest, RaisesAsIsMatchDoes) {
  EXPECT_THROW(CompiledPattern(""), ERegularExpressionError);
  EXPECT_THROW(CompiledPattern("(("), ERegularExpressionError);
  EXPECT_THROW(CompiledPattern("\xFF"), ERegularExpressionError);
}

TEST(CompiledPatternTest, StillMatchesAfterAMove) {
  CompiledPattern first("s.l.ct");
  CompiledPattern second = std::move(first);
  EXPECT_TRUE(second.Matches("union select"));
  CompiledPattern third("x");
  third = std::move(second);
  EXPECT_TRUE(third.Matches("union select"));
  EXPECT_FALSE(third.Matches("union"));
}

// A hostile 1 MB subject ends at the limits, answers false and is counted.
TEST(CompiledPatternTest, HostileSubjectHitsTheLimit) {
  std::string subject(1 << 20, 'a');
  subject.back() = '!';
  CompiledPattern pattern("(a+)+$");
  EXPECT_FALSE(pattern.Matches(subject));
  EXPECT_EQ(pattern.limit_failures(), 1U);
  EXPECT_TRUE(pattern.Matches("aaa"));
  EXPECT_EQ(pattern.limit_failures(), 1U);

  const std::string hex = EncryptToHexText("(\\w+\\s?)+$", "tarvin");
  const std::string_view slots[] = {hex};
  Matcher matcher(slots);
  EXPECT_FALSE(matcher.SlotMatches(0, subject));
  EXPECT_EQ(matcher.limit_failures(), 1U);
}

}  // namespace
}  // namespace ostrel
