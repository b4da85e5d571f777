#include "engine/hit_decision.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/line_error.h"
#include "rules/is_match.h"
#include "rules/new_des.h"

namespace ostrel {
namespace {

// Rule slots made from plain test patterns, enciphered as the program stores them. A slot
// that does not compile ("(") raises when it is tested, which shows which slots are tried.
class TestSlots {
 public:
  explicit TestSlots(const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns) {
      ciphers_.push_back(EncryptToHexText(pattern, kRuleKeyText));
    }
    for (const std::string& cipher : ciphers_) views_.emplace_back(cipher);
  }
  std::span<const std::string_view> span() const { return views_; }

 private:
  std::vector<std::string> ciphers_;
  std::vector<std::string_view> views_;
};

const TestSlots& PlainSlots() {
  static const TestSlots slots({"s1x", "s2x", "s3x", "s4x", "s5x", "s6x", "s7x", "s8x"});
  return slots;
}

RunOptions Options(LogType type, RuleSet set, bool drop_static, bool status_200_only) {
  RunOptions options;
  options.log_type = type;
  options.rule_set = set;
  options.drop_static = drop_static;
  options.status_200_only = status_200_only;
  return options;
}

// A decider with a rule set of its own, as a run gives every worker one over its shared set.
class Decider {
 public:
  Decider(const RunOptions& options, std::span<const std::string_view> slots)
      : rules_(slots, SlotCountOf(options.rule_set)), decider_(options, rules_) {}
  bool IsSuspiciousLine(const TLogLine& line) { return decider_.IsSuspiciousLine(line); }
  HitVerdict Decide(const TLogLine& line) { return decider_.Decide(line); }

 private:
  CompiledRuleSet rules_;
  HitDecider decider_;
};

TLogLine Line(std::string_view a, std::string_view b = {}, std::string_view status = "200") {
  TLogLine line;
  line.Line = "(output line)";
  line.SubjectA = a;
  line.SubjectB = b;
  line.StatusText = status;
  return line;
}

TEST(HitDeciderTest, CompactSetTestsSlotsOneToSixOnly) {
  for (const LogType type : {LogType::kIis, LogType::kTomcat, LogType::kApache}) {
    Decider compact(Options(type, RuleSet::kCompact, false, false), PlainSlots().span());
    Decider broad(Options(type, RuleSet::kBroad, false, false), PlainSlots().span());
    EXPECT_TRUE(compact.IsSuspiciousLine(Line("get /?a=s1x")));
    EXPECT_TRUE(compact.IsSuspiciousLine(Line("get /?a=s6x")));
    EXPECT_FALSE(compact.IsSuspiciousLine(Line("get /?a=s7x")));
    EXPECT_FALSE(compact.IsSuspiciousLine(Line("get /?a=s8x")));
    EXPECT_TRUE(broad.IsSuspiciousLine(Line("get /?a=s7x")));
    EXPECT_TRUE(broad.IsSuspiciousLine(Line("get /?a=s8x")));
    EXPECT_FALSE(broad.IsSuspiciousLine(Line("get /?a=s9x")));
  }
}

TEST(HitDeciderTest, CompactNeverTouchesSlotsSevenAndEight) {
  const TestSlots slots({"a1", "a2", "a3", "a4", "a5", "a6", "(", "("});
  Decider compact(Options(LogType::kIis, RuleSet::kCompact, false, false), slots.span());
  EXPECT_FALSE(compact.IsSuspiciousLine(Line("get", "-")));
  Decider broad(Options(LogType::kIis, RuleSet::kBroad, false, false), slots.span());
  EXPECT_THROW(broad.IsSuspiciousLine(Line("get", "-")), ERegularExpressionError);
}

TEST(HitDeciderTest, FirstMatchingSlotStopsTheTests) {
  const TestSlots slots({"first", "(", "(", "(", "(", "(", "(", "("});
  Decider decider(Options(LogType::kIis, RuleSet::kBroad, false, false), slots.span());
  EXPECT_TRUE(decider.IsSuspiciousLine(Line("first", "-")));
  EXPECT_THROW(decider.IsSuspiciousLine(Line("none", "first")), ERegularExpressionError);
}

TEST(HitDeciderTest, IisTestsSubjectAWithAllSlotsBeforeSubjectB) {
  const TestSlots slots({"aaa", "bbb", "(", "x", "x", "x", "x", "x"});
  Decider decider(Options(LogType::kIis, RuleSet::kCompact, false, false), slots.span());
  EXPECT_TRUE(decider.IsSuspiciousLine(Line("bbb", "aaa")));
  // Had SubjectB been tried with slot 1 before SubjectA reached slot 3, this would be a hit.
  EXPECT_THROW(decider.IsSuspiciousLine(Line("zzz", "aaa")), ERegularExpressionError);
}

TEST(HitDeciderTest, OnlyIisTestsSubjectB) {
  const TestSlots slots({"^-$", "x1", "x2", "x3", "x4", "x5"});
  Decider iis(Options(LogType::kIis, RuleSet::kCompact, false, false), slots.span());
  EXPECT_TRUE(iis.IsSuspiciousLine(Line("get", "-")));  // "-" is tested like any query
  EXPECT_TRUE(iis.IsSuspiciousLine(Line("get", "q=x3")));
  for (const LogType type : {LogType::kTomcat, LogType::kApache}) {
    Decider decider(Options(type, RuleSet::kCompact, false, false), slots.span());
    EXPECT_FALSE(decider.IsSuspiciousLine(Line("get / http/1.1", "-")));
    EXPECT_FALSE(decider.IsSuspiciousLine(Line("get / http/1.1", "x3")));
  }
}

TEST(HitDeciderTest, StaticFilterLooksAtSubjectAOnly) {
  Decider on(Options(LogType::kApache, RuleSet::kCompact, true, false), PlainSlots().span());
  Decider off(Options(LogType::kApache, RuleSet::kCompact, false, false), PlainSlots().span());
  struct Case {
    std::string_view subject;
    bool dropped;
  };
  for (const Case& c :
       {Case{"get /s1x/style.css http/1.1", true}, Case{"get /s1x/style.css?v=2 http/1.1", false},
        Case{"get /s1x/style.css", false}, Case{"get /s1x/a.jpg?x=1 http/1.1", true},
        Case{"get /s1x/a.jpgx http/1.1", true}, Case{"get /s1x/a.swf http/1.1", true},
        Case{"get /s1x/favicon.ico http/1.1", true}, Case{"get /s1x/ajpg http/1.1", false},
        Case{"get /s1x/a.JPG http/1.1", false}, Case{"get /s1x/a.jpeg http/1.1", false},
        Case{"get /s1x/a.js http/1.1", false}}) {
    SCOPED_TRACE(c.subject);
    EXPECT_EQ(on.IsSuspiciousLine(Line(c.subject)), !c.dropped);
    EXPECT_TRUE(off.IsSuspiciousLine(Line(c.subject)));
  }
  Decider iis(Options(LogType::kIis, RuleSet::kCompact, true, false), PlainSlots().span());
  EXPECT_TRUE(iis.IsSuspiciousLine(Line("get", "/s1x.jpg")));
  EXPECT_FALSE(iis.IsSuspiciousLine(Line("get.jpg", "s1x")));
}

TEST(HitDeciderTest, StatusFilterKeepsOnly200) {
  Decider on(Options(LogType::kTomcat, RuleSet::kCompact, false, true), PlainSlots().span());
  EXPECT_TRUE(on.IsSuspiciousLine(Line("s1x", {}, "200")));
  EXPECT_TRUE(on.IsSuspiciousLine(Line("s1x", {}, " 200")));
  EXPECT_TRUE(on.IsSuspiciousLine(Line("s1x", {}, "$c8")));
  EXPECT_FALSE(on.IsSuspiciousLine(Line("s1x", {}, "304")));
  EXPECT_FALSE(on.IsSuspiciousLine(Line("s1x", {}, "20")));
  EXPECT_FALSE(on.IsSuspiciousLine(Line("s1x", {}, "-1")));
  // A status that passes still needs a rule.
  EXPECT_FALSE(on.IsSuspiciousLine(Line("fine", {}, "200")));
}

TEST(HitDeciderTest, StatusThatIsNoIntegerStopsTheRunOnlyWithTheFilterOn) {
  Decider on(Options(LogType::kTomcat, RuleSet::kCompact, false, true), PlainSlots().span());
  for (const std::string_view status : {"", "abc", "20 ", "-", "\x01\x02"}) {
    SCOPED_TRACE(status);
    try {
      on.IsSuspiciousLine(Line("s1x", {}, status));
      ADD_FAILURE() << "no error";
    } catch (const LineError& error) {
      EXPECT_EQ(error.kind(), LineError::Kind::kStatusNotInteger);
      EXPECT_THAT(error.what(), ::testing::HasSubstr("状态码"));
      EXPECT_THAT(error.what(), ::testing::Not(::testing::HasSubstr("\x01")));
    }
  }
  Decider off(Options(LogType::kTomcat, RuleSet::kCompact, false, false), PlainSlots().span());
  EXPECT_TRUE(off.IsSuspiciousLine(Line("s1x", {}, "abc")));
  EXPECT_TRUE(off.IsSuspiciousLine(Line("s1x", {}, "")));
}

TEST(HitDeciderTest, StaticRequestIsDroppedBeforeItsStatusIsRead) {
  Decider both(Options(LogType::kApache, RuleSet::kCompact, true, true), PlainSlots().span());
  EXPECT_FALSE(both.IsSuspiciousLine(Line("get /a.png http/1.1", {}, "abc")));
  EXPECT_THROW(both.IsSuspiciousLine(Line("get /a.php http/1.1", {}, "abc")), LineError);
}

// Verdicts of repeated subjects are remembered; they must be the ones the slots give, also
// when many subjects share or replace remembered entries, and for long subjects.
TEST(HitDeciderTest, RepeatedSubjectsKeepTheirVerdicts) {
  Decider decider(Options(LogType::kApache, RuleSet::kBroad, false, false), PlainSlots().span());
  std::vector<std::pair<std::string, bool>> subjects;
  for (int i = 0; i < 20000; ++i) {
    std::string subject = "get /item?id=" + std::to_string(i);
    if (i % 7 == 0) subject += "&x=s" + std::to_string(1 + i % 8) + "x";
    subject += std::string(static_cast<std::size_t>(i % 5) * 70, 'p');  // both memos, and neither
    subjects.emplace_back(subject, i % 7 == 0);
  }
  for (int round = 0; round < 3; ++round) {
    for (const auto& [subject, hit] : subjects) {
      ASSERT_EQ(decider.IsSuspiciousLine(Line(subject)), hit) << subject;
    }
  }
}

TEST(HitDeciderTest, SlotErrorIsRaisedAgainForTheSameSubject) {
  const TestSlots slots({"first", "(", "x", "x", "x", "x"});
  Decider decider(Options(LogType::kTomcat, RuleSet::kCompact, false, false), slots.span());
  for (int i = 0; i < 3; ++i) {
    EXPECT_THROW(decider.IsSuspiciousLine(Line("none")), ERegularExpressionError);
    EXPECT_TRUE(decider.IsSuspiciousLine(Line("first")));
  }
}

// The verdict tells why a line is no hit, and for a hit which slot matched first on which
// subject.
TEST(HitDeciderTest, VerdictNamesTheFateAndTheFirstMatchingSlot) {
  struct Case {
    TLogLine line;
    LineFate fate;
    std::size_t slot;
    bool on_subject_b;
  };
  const Case cases[] = {
      {Line("get.jpg", "s1x"), LineFate::kStaticDropped, 0, false},
      {Line("get", "s1x", "404"), LineFate::kStatusDropped, 0, false},
      {Line("s5x s3x", "s1x"), LineFate::kHit, 2, false},
      {Line("get", "s6x s4x"), LineFate::kHit, 3, true},
      {Line("get", "s7x"), LineFate::kClean, 0, false},
  };
  Decider iis(Options(LogType::kIis, RuleSet::kCompact, true, true), PlainSlots().span());
  for (const Case& c : cases) {
    const HitVerdict verdict = iis.Decide(c.line);
    EXPECT_EQ(verdict.fate, c.fate) << c.line.SubjectA << " " << c.line.SubjectB;
    if (c.fate != LineFate::kHit) continue;
    EXPECT_EQ(verdict.slot, c.slot) << c.line.SubjectA;
    EXPECT_EQ(verdict.on_subject_b, c.on_subject_b) << c.line.SubjectA;
  }
  const TestSlots hostile({"(\\w+\\s?)+$", "x", "x", "x", "x", "x"});
  Decider limited(Options(LogType::kApache, RuleSet::kCompact, false, false), hostile.span());
  EXPECT_EQ(limited.Decide(Line(std::string(100000, 'a') + "!")).fate, LineFate::kLimited);
}

TEST(HitDeciderTest, StaticPatternIsTheFixedText) {
  EXPECT_EQ(kStaticResourcePattern.size(), 84u);
  EXPECT_EQ(kStaticResourcePattern.back(), ' ');
}

// The byte search answers as the pattern does, at the edges of the subject as well.
TEST(HitDeciderTest, StaticSearchAnswersAsThePattern) {
  for (const std::string_view subject :
       {"get /a.png http/1.1", "get /a.png", ".ico", "get /a.pn", "get /a.css http/1.1",
        "get /a.css", "get /a.cssx ", "get /a..jpg", "get /a.jp.gif.", "get /a.JPG", "get /x.swf?.",
        "get /css http/1.1", "", ".", "a.b.c.d.e", "get /a.pic", "x.cdr.emf"}) {
    EXPECT_EQ(HasStaticResourceName(subject), IsMatch(subject, kStaticResourcePattern)) << subject;
  }
}

}  // namespace
}  // namespace ostrel
