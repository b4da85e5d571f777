#pragma once

// An exact literal gate for the rule slots: for every slot a set of byte strings such that
// every non-empty match of the slot's pattern contains one of them. A subject that holds
// none of a slot's literals cannot match that slot, so the slot need not be run on it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

// How often byte strings occur in ordinary requests, counted on a sample, so the analysis
// can prefer the literals ordinary traffic lacks.
class LiteralFrequencies {
 public:
  explicit LiteralFrequencies(std::span<const std::string> sample);

  // Occurrences of text per byte of the sample: counted for up to four bytes; for a
  // longer text those of its rarest four-byte piece, an upper bound.
  double Rate(std::string_view text) const;

 private:
  using Counts = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // sorted by key
  static Counts Tally(std::vector<std::uint32_t> keys);
  static double CountOf(const Counts& counts, std::uint32_t key);

  std::vector<std::uint32_t> ones_;
  std::vector<std::uint32_t> twos_;
  Counts threes_;
  Counts fours_;
  double bytes_ = 1;
};

// Required literals of a pattern compiled as the rule slots are (UTF, case-sensitive):
// every non-empty match of pattern contains at least one of the returned strings (each at
// least 2 bytes long, at most kMaxGateLiterals of them; see kAnchoredLiteralMark).
// Answers nullopt ("no requirement") when no useful set exists or when the pattern uses
// any construct the analysis does not know (flags, \Q, non-ASCII text, ...). Never throws
// except std::bad_alloc. With `frequencies`, of the sets that qualify the one rarest in
// ordinary requests is chosen; without, the rarity of each byte is guessed.
std::optional<std::vector<std::string>> RequiredLiterals(
    std::string_view pattern, const LiteralFrequencies* frequencies = nullptr);

inline constexpr std::size_t kMaxGateLiterals = 20000;

// A returned string that begins with this byte stands for the rest of it at the start of
// the subject only (what follows a ^).
inline constexpr char kAnchoredLiteralMark = '\x01';

// The machines a literal database is built for.
enum class GateTarget {
  kThisMachine,  // the CPU it is built on, with every instruction set extension it has
  kAnyMachine,   // any CPU the scanning library runs on: for a database stored in the program
};

// One literal database over up to 32 slots' literal sets. The database is read-only once
// built and may be shared by threads; each thread scans with a Scratch of its own.
class LiteralGate {
 public:
  // slot_literals[i] is slot i's set, nullopt for a slot that is always a candidate.
  // Slots from index 32 on are not gated. Throws std::runtime_error when the literal
  // database cannot be built.
  explicit LiteralGate(const std::vector<std::optional<std::vector<std::string>>>& slot_literals,
                       GateTarget target = GateTarget::kThisMachine);
  ~LiteralGate();

  // A gate from the bytes Serialized() gave, with the slot masks of the gate that gave them;
  // null when the bytes are no database or were built for a CPU this one is not.
  static std::unique_ptr<LiteralGate> Load(std::span<const unsigned char> serialized,
                                           std::uint32_t always_slots, std::uint32_t gated_slots);

  // The database as bytes Load() takes back; empty when no slot is gated. Throws
  // std::runtime_error when the database cannot be serialized.
  std::string Serialized() const;
  std::uint32_t always_slots() const { return always_; }
  std::uint32_t gated_slots() const { return gated_; }
  LiteralGate(const LiteralGate&) = delete;
  LiteralGate& operator=(const LiteralGate&) = delete;

  // One thread's scan space for this gate. Not thread-safe; movable.
  class Scratch {
   public:
    Scratch(Scratch&&) noexcept;
    Scratch& operator=(Scratch&&) noexcept;
    ~Scratch();

   private:
    friend class LiteralGate;
    struct Space;
    explicit Scratch(std::unique_ptr<Space> space);
    std::unique_ptr<Space> space_;
  };

  // Scan space for one thread. Throws std::runtime_error when it cannot be allocated.
  Scratch MakeScratch() const;

  // Bit i is set when slot i may match subject: its set occurs in subject, or it is not
  // gated. Allocates nothing. Never throws. Precondition: `scratch` came from this gate.
  std::uint32_t Candidates(std::string_view subject, Scratch& scratch) const noexcept;

 private:
  struct LoadKey {};

 public:
  // For Load() only: an empty gate that Load() fills.
  explicit LiteralGate(LoadKey);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
  std::uint32_t always_ = 0;  // slots tested on every subject
  std::uint32_t gated_ = 0;   // slots found through the literal database
};

}  // namespace ostrel
