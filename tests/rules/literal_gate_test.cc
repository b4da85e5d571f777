// The literal gate may pass subjects that do not match, never drop one that does: the run's
// fast path (the stored slots behind the gate built with the program) gives the verdict of
// trying every slot in order, on the labelled corpora, on generated request lines and on
// random mutations of attacks. Also the required-literal analysis on small patterns.

#include "rules/literal_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "rules/compiled_rule_set.h"
#include "rules/is_match.h"
#include "rules/new_des.h"
#include "rules/pcre2_handles.h"
#include "rules/rule_slots.h"
#include "rules/stored_rule_gate.h"

namespace ostrel {
namespace {

struct AnalysisCase {
  const char* pattern;
  // Expected literals in ascending order; empty: no requirement.
  std::vector<std::string> literals;
};

void PrintTo(const AnalysisCase& c, std::ostream* os) { *os << c.pattern; }

class RequiredLiteralsTest : public testing::TestWithParam<AnalysisCase> {};

TEST_P(RequiredLiteralsTest, GivesTheExpectedSet) {
  const AnalysisCase& c = GetParam();
  const std::optional<std::vector<std::string>> literals = RequiredLiterals(c.pattern);
  if (c.literals.empty()) {
    EXPECT_FALSE(literals.has_value());
  } else {
    ASSERT_TRUE(literals.has_value());
    std::vector<std::string> sorted = *literals;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, c.literals);
  }
}

const AnalysisCase kAnalysisCases[] = {
    {"union\\s+select", {"select"}},
    {"(?:union|select)", {"select", "union"}},
    // An empty alternative, an optional part or a bare repeat leaves no requirement.
    {"(?:union|)", {}},
    {"(?:ab){0,3}", {}},
    {"x{0,3}", {}},
    {"(?:ab)*", {}},
    {"(?:ab)+c", {"abc"}},
    // Classes of up to four characters expand; wider or negated ones do not.
    {"[ab]cd", {"acd", "bcd"}},
    {"[a-z]cd", {"cd"}},
    {"[^a]cd", {"cd"}},
    {"\\d", {}},
    {".", {}},
    // Calls resolve to the named group; a recursive call gives no requirement.
    {"(?&q)x(?(DEFINE)(?<q>(?:'|%27)))", {"%27x", "'x"}},
    {"(?&r)(?(DEFINE)(?<r>a(?&r)?))", {}},
    {"(?&missing)", {}},
    // Look-arounds consume nothing; an adjacent literal joins across them.
    {"ab(?=cd)ef", {"abef"}},
    {"(?<=x)", {}},
    // Escapes: \x gives the character's UTF-8 bytes, back references nothing.
    {"\\x2e\\x2e/", {"../"}},
    {"\\x{e9}t\\x{e9}", {"\xC3\xA9t\xC3\xA9"}},
    {"(ab)\\1", {"ab"}},
    // Flags and constructs the analysis does not follow leave the whole pattern ungated.
    {"(?i)union", {}},
    {"\\Qab\\E", {}},
    {"a{,3}bc", {}},
    {"caf\xC3\xA9", {}},
    // Common single bytes are no gate; a rare one is allowed.
    {"a", {}},
    {"(?:/|x)", {}},
    {"(?:<|%3c)", {"%3c", "<"}},
    // A string that holds another member is dropped.
    {"(?:ab|xaby)", {"ab"}},
    // Exact text joins the first bytes of what follows it, through optional parts.
    {"or(?:\\+|%20|/\\*.*\\*/)", {"or%20", "or+", "or/*"}},
    {"x(?:ab)?(?:cd|ef.*)", {"xabcd", "xabef", "xcd", "xef"}},
    // After ^ (and look-aheads) the first bytes are marked as standing at the start.
    {"(?=[is])^(?:index|search)(?![a-z])", {"\x01index", "\x01search"}},
};

INSTANTIATE_TEST_SUITE_P(Patterns, RequiredLiteralsTest, testing::ValuesIn(kAnalysisCases));

// Counted frequencies steer the choice away from what ordinary requests hold.
TEST(RequiredLiteralsTest, PrefersWhatTheSampleLacks) {
  EXPECT_EQ(RequiredLiterals("abc.{0,5}xyz"), std::vector<std::string>{"abc"});
  const std::vector<std::string> sample = {"get /abc/abc?q=abc http/1.1"};
  const LiteralFrequencies frequencies(sample);
  EXPECT_GT(frequencies.Rate("abc"), frequencies.Rate("xyz"));
  EXPECT_EQ(RequiredLiterals("abc.{0,5}xyz", &frequencies), std::vector<std::string>{"xyz"});
}

// A literal that must start the subject lets through only subjects it starts.
TEST(LiteralGateTest, AnchoredLiteralsOnlyAtTheStart) {
  const LiteralGate gate({std::vector<std::string>{"\x01search", "zz"}});
  LiteralGate::Scratch scratch = gate.MakeScratch();
  EXPECT_EQ(gate.Candidates("search / http/1.1", scratch) & 1u, 1u);
  EXPECT_EQ(gate.Candidates("get /search http/1.1", scratch) & 1u, 0u);
  EXPECT_EQ(gate.Candidates("get /searchzz http/1.1", scratch) & 1u, 1u);
}

// A word ordinary paths hold is joined to what must precede it, a rare one stands alone;
// the last bytes before a part too varied to join are kept on their own.
TEST(RequiredLiteralsTest, JoinsOnlyTheCommonWords) {
  const std::vector<std::string> sample = {"get /news/detail http/1.1", "get /index.php http/1.1"};
  const LiteralFrequencies frequencies(sample);
  const std::vector<std::string> words = {"%3dtail", "+tail", "=tail", "whoami"};
  EXPECT_EQ(RequiredLiterals("(?:=|%3d)\\+*+(?:tail|whoami)", &frequencies), words);
  const std::optional<std::vector<std::string>> ends =
      RequiredLiterals("[0-9]\\.php(?:[a-j][a-j]|$)", &frequencies);
  ASSERT_TRUE(ends.has_value());
  EXPECT_EQ(ends->size(), 10u);
  EXPECT_EQ(ends->front(), "0.php");
}

// Each alternative is joined on its own to what precedes the alternation, even where the
// alternation as a whole starts too variously to join.
TEST(RequiredLiteralsTest, JoinsEachAlternativeToWhatPrecedesIt) {
  const std::vector<std::string> sample = {"get /index.php http/1.1"};
  const LiteralFrequencies frequencies(sample);
  const std::vector<std::string> joined = {".cgi", "/x.php"};
  EXPECT_EQ(RequiredLiterals("[^?]{0,9}/(?:x\\.php|[a-z]{1,9}\\.cgi)", &frequencies), joined);
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The subjects of a corpus file: the last tab-separated field of every line, as the engine
// sees a request target (lower case; a bare target wrapped in a request line).
void ReadSubjects(const std::filesystem::path& path, std::vector<std::string>& out) {
  std::ifstream in(path);
  ASSERT_TRUE(in) << "cannot open " << path;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string text = LowerAscii(line.substr(line.rfind('\t') + 1));
    out.push_back(text);
    if (!text.empty() && text.front() == '/') out.push_back("get " + text + " http/1.1");
  }
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The run's fast path (the stored set with the literal gate built with the program) against
// the plain one: every slot deciphered, compiled as IsMatch compiles it and tried in order.
class FastPathTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const std::string_view cipher : StoredRuleSlots()) {
      const std::string plain = DecryptHexText(cipher, kRuleKeyText);
      Reference reference;
      reference.code = pcre2::Compile(plain);
      reference.jit = pcre2::JitCompile(reference.code.get());
      references_.push_back(std::move(reference));
    }
    data_ = pcre2::MakeMatchData();
    context_ = pcre2::MakeLimitedMatchContext();
    jit_stack_ = pcre2::AssignJitStack(context_.get());
    ASSERT_TRUE(rules_.uses_stored_gate()) << "the gate built with the program did not load";
  }

  // Fails when the fast path's verdict differs from the plain one. A test the plain path
  // stopped at a limit may read as no match on the fast path, which may skip that slot.
  void Check(const std::string& subject) {
    std::optional<std::size_t> first;
    bool limited = false;
    for (std::size_t slot = 0; slot < references_.size() && !first; ++slot) {
      const Reference& reference = references_[slot];
      switch (pcre2::MatchOnce(reference.code.get(), reference.jit, subject, data_.get(),
                               context_.get())) {
        case pcre2::Outcome::kMatch:
          first = slot;
          break;
        case pcre2::Outcome::kLimit:
          limited = true;
          break;
        case pcre2::Outcome::kNoMatch:
          break;
      }
    }
    const RuleVerdict verdict = rules_.Test(subject, scratch_);
    if (first) {
      ASSERT_TRUE(verdict.matched()) << "slot " << *first + 1 << " dropped a match: " << subject;
      ASSERT_EQ(verdict.slot, *first) << subject;
    } else {
      ASSERT_FALSE(verdict.matched()) << "slot " << verdict.slot + 1 << " matched: " << subject;
      if (!limited) {
        ASSERT_EQ(verdict.outcome, RuleOutcome::kNoMatch) << subject;
      }
    }
    ++checked_;
  }

  struct Reference {
    pcre2::CodePtr code;
    bool jit = false;
  };
  std::vector<Reference> references_;
  pcre2::MatchDataPtr data_;
  pcre2::MatchContextPtr context_;
  pcre2::JitStackPtr jit_stack_;
  const CompiledRuleSet rules_{StoredRuleSlots(), StoredRuleSlots().size()};
  RuleScratch scratch_ = rules_.MakeScratch();
  std::size_t checked_ = 0;
};

TEST_F(FastPathTest, AnswersAsThePlainPathOnTheCorpora) {
  const std::filesystem::path own = std::filesystem::path(OSTREL_TEST_DATA) / "rules";
  std::vector<std::string> attacks;
  std::vector<std::string> benign;
  ReadSubjects(own / "attacks.tsv", attacks);
  ReadSubjects(own / "benign.tsv", benign);
  const std::filesystem::path shared(OSTREL_SHARED_CORPUS);
  if (std::filesystem::exists(shared / "attacks.tsv"))
    ReadSubjects(shared / "attacks.tsv", attacks);
  if (std::filesystem::exists(shared / "benign.tsv")) ReadSubjects(shared / "benign.tsv", benign);
  for (const std::string& subject : attacks) Check(subject);
  for (const std::string& subject : benign) Check(subject);
  // What each slot's gate lets through of the benign subjects, for the record.
  const StoredRuleGate& stored = StoredRuleGateData();
  const std::unique_ptr<LiteralGate> gate =
      LiteralGate::Load(stored.database, stored.always_slots, stored.gated_slots);
  ASSERT_NE(gate, nullptr);
  LiteralGate::Scratch scratch = gate->MakeScratch();
  std::vector<std::size_t> passed(references_.size());
  for (const std::string& subject : benign) {
    const std::uint32_t mask = gate->Candidates(subject, scratch);
    for (std::size_t slot = 0; slot < passed.size() && slot < 32; ++slot) {
      passed[slot] += (mask >> slot) & 1U;
    }
  }
  for (std::size_t slot = 0; slot < passed.size(); ++slot) {
    std::printf("slot %zu: %s, passes %.1f%% of %zu benign subjects\n", slot + 1,
                ((stored.gated_slots >> slot) & 1U) != 0 ? "gated" : "not gated",
                100.0 * static_cast<double>(passed[slot]) / static_cast<double>(benign.size()),
                benign.size());
  }
  EXPECT_GT(checked_, 3000U);
}

// Generated request lines and random mutations of attacks: pieces of attacks glued into
// benign-looking targets, bytes deleted, inserted, swapped and duplicated.
TEST_F(FastPathTest, AnswersAsThePlainPathOnGeneratedOrMutatedLines) {
  const std::filesystem::path own = std::filesystem::path(OSTREL_TEST_DATA) / "rules";
  std::vector<std::string> pieces;
  ReadSubjects(own / "attacks.tsv", pieces);
  ReadSubjects(own / "benign.tsv", pieces);
  std::erase_if(pieces, [](const std::string& text) { return text.empty() || !IsAscii(text); });
  ASSERT_FALSE(pieces.empty());
  std::mt19937_64 rng(20261208);
  auto pick = [&]() -> const std::string& {
    return pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(rng)];
  };
  auto below = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  static constexpr std::string_view kBytes = "%'\"()<>;|&$`{}/.\\=+-*#@!?:,_ 0123456789abcdefxu";
  for (int line = 0; line < 4000; ++line) {
    const std::string& a = pick();
    const std::string& b = pick();
    std::string subject = "get /app/page?x=" + a.substr(below(a.size())) +
                          "&y=" + b.substr(0, below(b.size()) + 1) + " http/1.1";
    Check(subject);
  }
  for (int round = 0; round < 12000; ++round) {
    std::string subject = pick();
    const std::size_t edits = 1 + below(6);
    for (std::size_t edit = 0; edit < edits && !subject.empty(); ++edit) {
      const std::size_t at = below(subject.size());
      switch (below(5)) {
        case 0:
          subject.erase(at, 1 + below(3));
          break;
        case 1:
          subject.insert(subject.begin() + static_cast<std::ptrdiff_t>(at),
                         kBytes[below(kBytes.size())]);
          break;
        case 2:
          std::swap(subject[at], subject[below(subject.size())]);
          break;
        case 3:
          subject.insert(at, subject.substr(below(subject.size()), 1 + below(8)));
          break;
        default: {
          const std::string& other = pick();
          subject.insert(at, other.substr(below(other.size()), 1 + below(24)));
          break;
        }
      }
    }
    Check(subject);
  }
}

}  // namespace
}  // namespace ostrel
