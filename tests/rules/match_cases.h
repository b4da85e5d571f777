#pragma once

// Pattern/subject pairs with their expected answer under the run's match options, shared
// by the IsMatch and CompiledRuleSet suites.

#include <string_view>

namespace ostrel {

struct MatchCase {
  std::string_view name;
  std::string_view pattern;
  std::string_view subject;
  bool matches;
};

using namespace std::string_view_literals;

inline constexpr MatchCase kMatchCases[] = {
    {"EmptyOnlyMatchIsFalse", "x*", "abc", false},
    {"EmptyOnlyOnEmptySubject", "a?", "", false},
    {"NonEmptyAlternativeStillMatches", "x*|b", "abc", true},
    {"LaterAlternativeAfterEmptyOne", "a?|bc", "zbc", true},
    {"UpperCaseDoesNotMatchLower", "SELECT", "select", false},
    {"LowerCaseMatchesLower", "select", "union select 1", true},
    {"MatchInTheMiddle", "etc/passwd", "/a/../../etc/passwd?x=1", true},
    {"WhiteSpaceIsSignificant", "a b", "ab", false},
    {"CaretAnchorsAtSubjectStartOnly", "^b", "a\nb", false},
    {"DotMatchesTab", "a.b", "a\tb", true},
    {"DotStopsAtLf", "a.b", "a\nb", false},
    {"DotStopsAtCr", "a.b", "a\rb", false},
    {"DotStopsAtVerticalTab", "a.b", "a\vb", false},
    {"DotStopsAtFormFeed", "a.b", "a\fb", false},
    {"DotStopsAtNel", "a.b",
     "a\xC2\x85"
     "b",
     false},
    {"DotStopsAtLineSeparator", "a.b",
     "a\xE2\x80\xA8"
     "b",
     false},
    {"DotStopsAtParagraphSeparator", "a.b",
     "a\xE2\x80\xA9"
     "b",
     false},
    {"DotMatchesOtherNonAscii", "a.b",
     "a\xC2\x86"
     "b",
     true},
    {"DollarAtVeryEnd", "abc$", "xabc", true},
    {"DollarBeforeFinalLf", "abc$", "abc\n", true},
    {"DollarBeforeFinalCrLf", "abc$", "abc\r\n", true},
    {"DollarBeforeFinalCr", "abc$", "abc\r", true},
    {"DollarBeforeFinalNel", "abc$", "abc\xC2\x85", true},
    {"DollarBeforeFinalLineSeparator", "abc$", "abc\xE2\x80\xA8", true},
    {"DollarNotBeforeInnerLineEnd", "abc$", "abc\ndef", false},
    {"DollarNotBeforeTwoLineEnds", "abc$", "abc\n\n", false},
    {"NonBmpCharIsOneForTheDot", "^.$", "\xF0\x9F\x98\x80", true},
    {"NonBmpCharIsNotTwo", "^..$", "\xF0\x9F\x98\x80", false},
    {"ChineseCharIsOneForTheDot", "^a.b$",
     "a\xE4\xB8\xAD"
     "b",
     true},
    {"DigitClassIsAsciiOnly", "\\d", "\xD9\xA3", false},
    {"WordClassIsAsciiOnly", "\\w", "\xC3\xA9", false},
    {"SpaceClassIsAsciiOnly", "\\s", "\xE3\x80\x80", false},
    {"NulByteInSubject", "a\\x00b", "a\0b"sv, true},
    {"GroupsAndAlternation", "(union|select)\\s+(all\\s+)?select", "1 union all select", true},
};

}  // namespace ostrel
