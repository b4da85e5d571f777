#include "engine/rule_prefilter.h"

#include <hs/hs.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "engine/hit_decision.h"
#include "rules/is_match.h"
#include "rules/matcher.h"
#include "rules/new_des.h"

namespace ostrel {

struct RulePrefilter::Database {
  hs_database_t* handle = nullptr;
  ~Database() { hs_free_database(handle); }
};

struct RulePrefilter::Scanner::Scratch {
  hs_scratch_t* handle = nullptr;
  ~Scratch() { hs_free_scratch(handle); }
};

namespace {

// Wipes the plain pattern texts however Build() leaves.
struct PlainPatterns {
  std::vector<std::string> texts;
  ~PlainPatterns() {
    for (std::string& text : texts) explicit_bzero(text.data(), text.size());
  }
};

// Line breaks that end a line for PCRE2's NEWLINE_ANY ('.', '$') but not for Vectorscan.
bool HasUnusualLineBreak(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = p[i];
    if (c == 0x0B || c == 0x0C || c == '\r' || c == '\n') return true;
    if (c == 0xC2 && i + 1 < n && p[i + 1] == 0x85) return true;
    if (c == 0xE2 && i + 2 < n && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9)) {
      return true;
    }
  }
  return false;
}

int StopAtFirstMatch(unsigned, unsigned long long, unsigned long long, unsigned, void*) {
  return 1;
}

}  // namespace

RulePrefilter::RulePrefilter(Key, std::unique_ptr<Database> database)
    : database_(std::move(database)) {}

RulePrefilter::~RulePrefilter() = default;

std::unique_ptr<const RulePrefilter> RulePrefilter::Build(
    std::span<const std::string_view> cipher_slots, RuleSet rule_set) {
  const std::size_t wanted = rule_set == RuleSet::kCompact ? kCompactSlotCount : kBroadSlotCount;
  const std::size_t count = std::min(wanted, cipher_slots.size());
  if (count == 0) return nullptr;
  PlainPatterns plain;
  for (std::size_t i = 0; i < count; ++i) {
    plain.texts.push_back(DecryptHexText(cipher_slots[i], kRuleKeyText));
    const std::string& pattern = plain.texts.back();
    if (pattern.empty() || pattern.find('\0') != std::string::npos) return nullptr;
    try {
      CompiledPattern check(pattern);
    } catch (const ERegularExpressionError&) {
      return nullptr;
    }
  }
  std::vector<const char*> expressions;
  std::vector<unsigned> flags;
  std::vector<unsigned> ids;
  for (std::size_t i = 0; i < count; ++i) {
    expressions.push_back(plain.texts[i].c_str());
    // Prefilter mode approximates what Vectorscan cannot run exactly (never missing a
    // match); empty matches are allowed so such patterns compile, answering "may match".
    flags.push_back(HS_FLAG_PREFILTER | HS_FLAG_UTF8 | HS_FLAG_ALLOWEMPTY | HS_FLAG_SINGLEMATCH);
    ids.push_back(static_cast<unsigned>(i));
  }
  auto database = std::make_unique<Database>();
  hs_compile_error_t* error = nullptr;
  if (hs_compile_multi(expressions.data(), flags.data(), ids.data(), static_cast<unsigned>(count),
                       HS_MODE_BLOCK, nullptr, &database->handle, &error) != HS_SUCCESS) {
    hs_free_compile_error(error);
    return nullptr;
  }
  return std::make_unique<const RulePrefilter>(Key{}, std::move(database));
}

RulePrefilter::Scanner::Scanner(const RulePrefilter& prefilter)
    : prefilter_(prefilter), scratch_(std::make_unique<Scratch>()) {
  if (hs_alloc_scratch(prefilter_.database_->handle, &scratch_->handle) != HS_SUCCESS) {
    throw std::bad_alloc();
  }
}

RulePrefilter::Scanner::~Scanner() = default;

bool RulePrefilter::Scanner::MayMatch(std::string_view subject) {
  if (HasUnusualLineBreak(subject)) return true;
  const hs_error_t result =
      hs_scan(prefilter_.database_->handle, subject.data(), static_cast<unsigned>(subject.size()),
              0, scratch_->handle, StopAtFirstMatch, nullptr);
  // Terminated means a pattern may match; any failure also answers "may match".
  return result != HS_SUCCESS;
}

}  // namespace ostrel
