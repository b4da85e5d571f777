// The literal gate may pass subjects that do not match, never drop one that does: checked
// for every stored slot on the labelled corpora, on generated request lines and on random
// mutations of attacks. Also the required-literal analysis on small patterns.

#include "rules/literal_gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "rules/is_match.h"
#include "rules/matcher.h"
#include "rules/new_des.h"
#include "rules/rule_slots.h"

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
    {"(?:ab)+c", {"ab"}},
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
};

INSTANTIATE_TEST_SUITE_P(Patterns, RequiredLiteralsTest, testing::ValuesIn(kAnalysisCases));

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

class GateTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const std::string_view cipher : StoredRuleSlots()) {
      plain_.push_back(DecryptHexText(cipher, kRuleKeyText));
      literals_.push_back(RequiredLiterals(plain_.back()));
      compiled_.emplace_back(plain_.back());
    }
    gate_.emplace(literals_);
    scratch_.emplace(gate_->MakeScratch());
  }

  // Fails when the gate drops subject for a slot the subject matches.
  void Check(const std::string& subject) {
    const std::uint32_t mask = gate_->Candidates(subject, *scratch_);
    for (std::size_t slot = 0; slot < compiled_.size(); ++slot) {
      if (slot < 32 && ((mask >> slot) & 1U) == 0) {
        ASSERT_FALSE(compiled_[slot].Matches(subject))
            << "slot " << slot + 1 << " dropped a match: " << subject;
      }
    }
    ++checked_;
  }

  std::vector<std::string> plain_;
  std::vector<std::optional<std::vector<std::string>>> literals_;
  std::vector<CompiledPattern> compiled_;
  std::optional<LiteralGate> gate_;
  std::optional<LiteralGate::Scratch> scratch_;
  std::size_t checked_ = 0;
};

TEST_F(GateTest, NeverDropsAMatchOfTheCorpora) {
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
  std::vector<std::size_t> passed(plain_.size());
  for (const std::string& subject : benign) {
    Check(subject);
    const std::uint32_t mask = gate_->Candidates(subject, *scratch_);
    for (std::size_t slot = 0; slot < passed.size() && slot < 32; ++slot) {
      passed[slot] += (mask >> slot) & 1U;
    }
  }
  // The share of benign subjects each slot's gate lets through, for the record.
  for (std::size_t slot = 0; slot < passed.size(); ++slot) {
    std::printf("slot %zu: %s, %zu literals, passes %.1f%% of %zu benign subjects\n", slot + 1,
                literals_[slot] ? "gated" : "not gated",
                literals_[slot] ? literals_[slot]->size() : std::size_t{0},
                100.0 * static_cast<double>(passed[slot]) / static_cast<double>(benign.size()),
                benign.size());
  }
  EXPECT_GT(checked_, 3000U);
}

// Generated request lines and random mutations of attacks: pieces of attacks glued into
// benign-looking targets, bytes deleted, inserted, swapped and duplicated.
TEST_F(GateTest, NeverDropsAMatchOfGeneratedOrMutatedLines) {
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

// The gate drops nothing through Matcher either, and a slot that does not compile stays a
// candidate, so its error is raised when it is asked.
TEST(MatcherGateTest, BrokenSlotsStayCandidates) {
  const std::string good = EncryptToHexText("union\\s+select", kRuleKeyText);
  const std::string broken = EncryptToHexText("select((", kRuleKeyText);
  const std::string_view slots[] = {good, broken};
  Matcher matcher(slots);
  EXPECT_EQ(matcher.CandidateSlots("get /?q=hello") & 3U, 2U);
  EXPECT_EQ(matcher.CandidateSlots("get /?q=union select") & 3U, 3U);
  EXPECT_TRUE(matcher.SlotMatches(0, "union  select"));
  EXPECT_THROW(matcher.SlotMatches(1, "hello"), ERegularExpressionError);
  EXPECT_THROW(matcher.SlotMatches(1, "hello"), ERegularExpressionError);
}

}  // namespace
}  // namespace ostrel
