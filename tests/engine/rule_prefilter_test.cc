#include "engine/rule_prefilter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "rules/is_match.h"
#include "rules/new_des.h"

namespace ostrel {
namespace {

struct Slots {
  explicit Slots(const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns) {
      texts.push_back(EncryptToHexText(pattern, kRuleKeyText));
    }
    views.assign(texts.begin(), texts.end());
  }
  std::vector<std::string> texts;
  std::vector<std::string_view> views;
};

// Patterns in the style of the rule slots, plus constructs Vectorscan can only approximate
// (look-around, back references) and ones whose meaning depends on UTF-8 or anchors.
const std::vector<std::string> kPatterns = {"union\\s+(all\\s+)?select",
                                            "<script|javascript:|on(error|load)\\s*=",
                                            "(?<=[=/])\\.\\./|%2e%2e%2f",
                                            "(['\"])\\s*or\\s*\\1?\\d",
                                            "^(get|post) /(admin|manager)",
                                            "\\.(php|jsp|asp)$",
                                            "a.b|\\x{4e2d}文",
                                            "(?i)JNDI:(ldap|rmi)"};

const std::vector<std::string> kSubjects = {"get /?id=1 union select 1 http/1.1",
                                            "get /?id=1 union all  select 1",
                                            "get /?q=<script>",
                                            "x onerror =",
                                            "javascript:alert(1)",
                                            "get /a=../../etc",
                                            "get ../x",
                                            "q=%2e%2e%2f",
                                            "id=1' or '1",
                                            "id=1\" or 2",
                                            "id=1' or 5",
                                            "get /admin/x",
                                            "post /manager/html",
                                            " get /admin",
                                            "/x.php",
                                            "/x.php?",
                                            "a中b",
                                            "ab",
                                            "a\nb",
                                            "中文",
                                            "\\x{4e2d}",
                                            "jndi:ldap",
                                            "JNDI:RMI",
                                            "jndi:dns",
                                            "-",
                                            "",
                                            "get / http/1.1",
                                            "unionselect",
                                            "union\tselect",
                                            "get /index.html http/1.1",
                                            "a\xC2\x85"
                                            "b",
                                            "x.php\xE2\x80\xA8",
                                            "/x.php\x0B"};

TEST(RulePrefilterTest, NeverRejectsASubjectThatAPatternMatches) {
  for (const RuleSet set : {RuleSet::kCompact, RuleSet::kBroad}) {
    const Slots slots(kPatterns);
    const auto prefilter = RulePrefilter::Build(slots.views, set);
    ASSERT_NE(prefilter, nullptr);
    RulePrefilter::Scanner scanner(*prefilter);
    const std::size_t count = set == RuleSet::kCompact ? 6 : 8;
    for (const std::string& subject : kSubjects) {
      bool any = false;
      for (std::size_t i = 0; i < count; ++i) any = any || IsMatch(subject, kPatterns[i]);
      if (any) {
        EXPECT_TRUE(scanner.MayMatch(subject)) << subject;
      }
    }
    // It does reject plainly harmless subjects, or it would be of no use.
    EXPECT_FALSE(scanner.MayMatch("get /index.html http/1.1"));
  }
}

TEST(RulePrefilterTest, LineBreaksPcreKnowsAlwaysPass) {
  const Slots slots({"x\\.php$"});
  const auto prefilter = RulePrefilter::Build(slots.views, RuleSet::kCompact);
  ASSERT_NE(prefilter, nullptr);
  RulePrefilter::Scanner scanner(*prefilter);
  EXPECT_FALSE(scanner.MayMatch("/index.html"));
  EXPECT_TRUE(scanner.MayMatch("/x.php\xE2\x80\xA8"));
  EXPECT_TRUE(scanner.MayMatch("/x.php\x0C"));
}

TEST(RulePrefilterTest, NoPrefilterWhenARuleCannotBeUsed) {
  // A rule that does not compile must be reported by the decider at its own line.
  EXPECT_EQ(RulePrefilter::Build(Slots({"ok", "(unclosed"}).views, RuleSet::kCompact), nullptr);
  // A slot text that deciphers to nothing.
  const std::vector<std::string_view> broken = {"ZZ"};
  EXPECT_EQ(RulePrefilter::Build(broken, RuleSet::kCompact), nullptr);
  EXPECT_EQ(RulePrefilter::Build({}, RuleSet::kCompact), nullptr);
  // A broken slot outside the chosen set does not matter.
  EXPECT_NE(RulePrefilter::Build(Slots({"a", "b", "c", "d", "e", "f", "(", "g"}).views,
                                 RuleSet::kCompact),
            nullptr);
}

}  // namespace
}  // namespace ostrel
