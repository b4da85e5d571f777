#include "engine/hit_decision.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "engine/line_error.h"

namespace ostrel {

// The rule verdicts of recent subjects. Logs repeat the same methods, queries and requests
// over and over, and within a run a subject's verdict never changes, so a repeated subject
// skips its pattern matches. kSets sets of kWays entries, the least recently used of a set
// replaced; the hashes and verdicts lie apart from the texts, so that a look-up that finds
// nothing reads one line of a small table. No allocation after construction, constant
// memory.
template <std::size_t kSets, std::size_t kWays, std::size_t kMaxSubject>
class VerdictMemo {
  static_assert((kSets & (kSets - 1)) == 0, "the set count is a power of two");
  static_assert(kMaxSubject <= 255, "entry sizes are stored in one byte");

 public:
  VerdictMemo()
      : tags_(std::make_unique<Tag[]>(kSets * kWays)),
        texts_(std::make_unique<char[]>(kSets * kWays * kStride)) {}

  static bool Fits(std::string_view subject) { return subject.size() <= kMaxSubject; }

  // Starts loading the tags of `hash`'s set into the cache, so the look-up that follows a
  // few steps later finds them there; with `text`, the text of the set's first entry too.
  void Prefetch(std::size_t hash, bool text) const {
    const std::size_t set = hash & (kSets - 1);
    __builtin_prefetch(&tags_[set * kWays]);
    if (!text) return;
    const char* entry = TextOf(set * kWays);
    for (std::size_t offset = 0; offset < kStride; offset += 64) {
      __builtin_prefetch(entry + offset);
    }
  }

  // The remembered verdict of `subject`, if any. Precondition: Fits(subject).
  std::optional<RuleVerdict> Find(std::string_view subject, std::size_t hash) {
    const std::size_t first = (hash & (kSets - 1)) * kWays;
    for (std::size_t index = first; index < first + kWays; ++index) {
      const Tag& tag = tags_[index];
      if (!tag.used || tag.hash != hash || tag.size != subject.size() ||
          (!subject.empty() && std::memcmp(TextOf(index), subject.data(), subject.size()) != 0)) {
        continue;
      }
      MarkRecent(first, index);
      return RuleVerdict{tag.outcome, tag.slot, tag.patterns_run};
    }
    return std::nullopt;
  }

  // Precondition: Fits(subject).
  void Store(std::string_view subject, std::size_t hash, RuleVerdict verdict) {
    const std::size_t first = (hash & (kSets - 1)) * kWays;
    std::size_t index = first;
    for (std::size_t way = first; way < first + kWays; ++way) {
      if (!tags_[way].used) {
        index = way;
        break;
      }
      if (!tags_[way].recent) index = way;
    }
    Tag& tag = tags_[index];
    tag.used = true;
    tag.outcome = verdict.outcome;
    tag.patterns_run = verdict.patterns_run;
    tag.slot = static_cast<std::uint16_t>(verdict.slot);
    tag.hash = hash;
    tag.size = static_cast<std::uint8_t>(subject.size());
    // An empty view may have no data pointer, which memcpy must not be given.
    if (!subject.empty()) std::memcpy(TextOf(index), subject.data(), subject.size());
    MarkRecent(first, index);
  }

  static bool Keeps(RuleVerdict verdict) {
    return verdict.slot <= std::numeric_limits<std::uint16_t>::max();
  }

 private:
  struct Tag {
    std::size_t hash = 0;
    std::uint16_t slot = 0;
    RuleOutcome outcome = RuleOutcome::kNoMatch;
    std::uint8_t size = 0;
    bool used = false;
    bool recent = false;  // the entry of its set used last
    bool patterns_run = false;
  };
  static_assert(sizeof(Tag) == 16, "four tags fill a cache line");

  // Each text starts a cache line.
  static constexpr std::size_t kStride = (kMaxSubject + 63) / 64 * 64;

  char* TextOf(std::size_t index) const { return &texts_[index * kStride]; }

  void MarkRecent(std::size_t first, std::size_t index) {
    if constexpr (kWays > 1) {
      for (std::size_t way = first; way < first + kWays; ++way) tags_[way].recent = way == index;
    }
  }

  std::unique_ptr<Tag[]> tags_;
  std::unique_ptr<char[]> texts_;
};

// Verdicts the literal gate gave alone: most subjects, each cheap to test again, so one
// entry per set is enough.
class GateMemo : public VerdictMemo<4096, 1, 128> {};
// Verdicts that took pattern matches (every hit among them): few subjects, but each costs
// microseconds, so they are kept apart where the many cheap ones cannot push them out, and
// longer ones are kept too.
class PatternMemo : public VerdictMemo<2048, 2, 255> {};

namespace {

std::uint64_t Load64(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

std::uint64_t Load32(const char* p) noexcept {
  std::uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}

// The two halves of a full 64 x 64-bit product folded together.
std::uint64_t Mix(std::uint64_t a, std::uint64_t b) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// A quick hash of a short subject, sixteen bytes per multiplication, the last bytes read
// in overlapping words rather than one by one; the memo compares the text anyway.
std::size_t SubjectHash(std::string_view subject) noexcept {
  constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ULL;
  constexpr std::uint64_t kOther = 0xE7037ED1A0B428DBULL;
  const std::size_t size = subject.size();
  const char* p = subject.data();
  std::uint64_t seed = kOdd ^ size;
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  if (size >= 8 && size <= 16) {
    a = Load64(p);
    b = Load64(p + size - 8);
  } else if (size >= 4 && size < 8) {
    a = Load32(p);
    b = Load32(p + size - 4);
  } else if (size > 0 && size < 4) {
    a = static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
        static_cast<std::uint64_t>(static_cast<unsigned char>(p[size / 2])) << 8 |
        static_cast<unsigned char>(p[size - 1]);
  } else if (size > 16) {
    std::size_t left = size;
    for (; left > 16; p += 16, left -= 16) seed = Mix(Load64(p) ^ kOther, Load64(p + 8) ^ seed);
    a = Load64(p + left - 16);
    b = Load64(p + left - 8);
  }
  return static_cast<std::size_t>(Mix(kOther ^ size, Mix(a ^ kOther, b ^ seed)));
}

// Three bytes as one number, so an extension is compared in one step.
constexpr std::uint32_t ThreeBytes(char a, char b, char c) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16;
}
constexpr std::uint32_t ThreeBytes(const char (&text)[4]) {
  return ThreeBytes(text[0], text[1], text[2]);
}

}  // namespace

HitDecider::HitDecider(const RunOptions& options, const CompiledRuleSet& rules)
    : log_type_(options.log_type),
      drop_static_(options.drop_static),
      status_200_only_(options.status_200_only),
      rules_(&rules),
      scratch_(std::make_unique<RuleScratch>(rules.MakeScratch())),
      gate_memo_(std::make_unique<GateMemo>()),
      pattern_memo_(std::make_unique<PatternMemo>()) {}

bool HasStaticResourceName(std::string_view subject) noexcept {
  for (std::size_t dot = subject.find('.'); dot != std::string_view::npos;
       dot = subject.find('.', dot + 1)) {
    const std::string_view rest = subject.substr(dot + 1);
    if (rest.size() < 3) return false;
    switch (ThreeBytes(rest[0], rest[1], rest[2])) {
      case ThreeBytes("ico"):
      case ThreeBytes("bmp"):
      case ThreeBytes("jpg"):
      case ThreeBytes("gif"):
      case ThreeBytes("png"):
      case ThreeBytes("tif"):
      case ThreeBytes("pcx"):
      case ThreeBytes("wmf"):
      case ThreeBytes("cdr"):
      case ThreeBytes("eps"):
      case ThreeBytes("emf"):
      case ThreeBytes("pic"):
      case ThreeBytes("swf"):
        return true;
      case ThreeBytes("css"):
        if (rest.size() > 3 && rest[3] == ' ') return true;
        break;
      default:
        break;
    }
  }
  return false;
}

HitDecider::~HitDecider() = default;
HitDecider::HitDecider(HitDecider&&) noexcept = default;
HitDecider& HitDecider::operator=(HitDecider&&) noexcept = default;

HitVerdict HitDecider::Decide(const TLogLine& line) {
  // The memo entries of SubjectA are fetched while the filters look at the line.
  const MemoKey key_a = KeyOf(line.SubjectA);
  if (key_a.memorable) {
    if (GateMemo::Fits(line.SubjectA)) gate_memo_->Prefetch(key_a.hash, true);
    pattern_memo_->Prefetch(key_a.hash, false);
  }
  if (drop_static_ && HasStaticResourceName(line.SubjectA)) {
    return HitVerdict{LineFate::kStaticDropped};
  }
  if (status_200_only_) {
    const std::optional<std::int32_t> status = ReadInteger(line.StatusText);
    if (!status) throw LineError::StatusNotInteger(line.StatusText);
    if (*status != 200) return HitVerdict{LineFate::kStatusDropped};
  }
  const RuleVerdict a = TestRules(line.SubjectA, key_a);
  if (a.matched()) return HitVerdict{LineFate::kHit, a.slot, false};
  RuleVerdict b;
  if (log_type_ == LogType::kIis) {
    b = TestRules(line.SubjectB, KeyOf(line.SubjectB));
    if (b.matched()) return HitVerdict{LineFate::kHit, b.slot, true};
  }
  const bool limited = a.outcome == RuleOutcome::kLimit || b.outcome == RuleOutcome::kLimit;
  return HitVerdict{limited ? LineFate::kLimited : LineFate::kClean};
}

HitDecider::MemoKey HitDecider::KeyOf(std::string_view subject) {
  if (!PatternMemo::Fits(subject)) return MemoKey{};
  return MemoKey{true, SubjectHash(subject)};
}

RuleVerdict HitDecider::TestRules(std::string_view subject, MemoKey key) {
  const bool gate_memorable = key.memorable && GateMemo::Fits(subject);
  if (gate_memorable) {
    if (const std::optional<RuleVerdict> verdict = gate_memo_->Find(subject, key.hash)) {
      return *verdict;
    }
  }
  if (key.memorable) {
    if (const std::optional<RuleVerdict> verdict = pattern_memo_->Find(subject, key.hash)) {
      return *verdict;
    }
  }
  const RuleVerdict verdict = rules_->Test(subject, *scratch_);
  // Only a verdict reached without an error is remembered, so a slot that does not compile
  // raises its error again for the same subject; and only one whose slot fits an entry.
  if (!key.memorable || !PatternMemo::Keeps(verdict)) return verdict;
  if (verdict.patterns_run) {
    pattern_memo_->Store(subject, key.hash, verdict);
  } else if (gate_memorable) {
    gate_memo_->Store(subject, key.hash, verdict);
  }
  return verdict;
}

}  // namespace ostrel
