#include "rules/is_match.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/rules/match_cases.h"

namespace ostrel {
namespace {

class IsMatchTest : public testing::TestWithParam<MatchCase> {};

TEST_P(IsMatchTest, AnswersAsPcre2WithTheRunOptions) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(IsMatch(c.subject, c.pattern), c.matches);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, IsMatchTest, testing::ValuesIn(kMatchCases),
                         [](const testing::TestParamInfo<MatchCase>& info) {
                           return std::string(info.param.name);
                         });

struct ErrorCase {
  std::string_view name;
  std::string_view pattern;
  std::string_view message;
};

class IsMatchErrorTest : public testing::TestWithParam<ErrorCase> {};

TEST_P(IsMatchErrorTest, RaisesWithOffsetAndPcre2Text) {
  try {
    IsMatch("subject", GetParam().pattern);
    FAIL() << "no error raised";
  } catch (const ERegularExpressionError& error) {
    EXPECT_EQ(std::string_view(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, IsMatchErrorTest,
    testing::Values(
        ErrorCase{"Empty", "", "A regular expression specified in RegEx is required"},
        ErrorCase{"UnclosedGroup", "a(b",
                  "Error in regular expression at offset 3: missing closing parenthesis"},
        ErrorCase{"UnmatchedClose", "ab)c",
                  "Error in regular expression at offset 2: unmatched closing parenthesis"},
        ErrorCase{"UnclosedClass", "x[a-",
                  "Error in regular expression at offset 4: missing terminating ] for "
                  "character class"},
        ErrorCase{"NothingToRepeat", "ab|*",
                  "Error in regular expression at offset 3: quantifier does not follow a "
                  "repeatable item"},
        // The offset counts bytes: the two-byte character before the error counts twice.
        ErrorCase{"OffsetInBytes", "\xE4\xB8\xAD(",
                  "Error in regular expression at offset 4: missing closing parenthesis"}),
    [](const testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

// A pattern that is not valid UTF-8 is a compile error, never undefined behaviour.
TEST(IsMatchErrorTest, InvalidUtf8PatternRaises) {
  for (const std::string_view pattern :
       {std::string_view("a\xFF"), std::string_view("\xC3"), std::string_view("\xED\xA0\x80"),
        std::string_view("\xC0\xAF")}) {
    try {
      IsMatch("a", pattern);
      ADD_FAILURE() << "no error for an invalid UTF-8 pattern";
    } catch (const ERegularExpressionError& error) {
      EXPECT_EQ(std::string_view(error.what()).rfind("Error in regular expression at offset ", 0),
                0U)
          << error.what();
    }
  }
}

// A backtracking-prone pattern on a hostile 1 MB subject ends at the match limits.
TEST(IsMatchLimitTest, HostileSubjectEndsAsNoMatch) {
  std::string subject(1 << 20, 'a');
  subject.back() = '!';
  EXPECT_FALSE(IsMatch(subject, "(a+)+$"));
  EXPECT_FALSE(IsMatch(subject, "(\\w+\\s?)+$"));
}

}  // namespace
}  // namespace ostrel
