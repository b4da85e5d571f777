#pragma once

// The literal gate of the stored rule slots, built with the program (tools/rule_gate/) so
// that a run loads it in microseconds instead of analysing every slot and compiling some
// thousand literals when its first request reaches the rules. The stored database holds
// literals of the patterns, never their text.

#include <cstdint>
#include <span>
#include <string_view>

namespace ostrel {

struct StoredRuleGate {
  std::span<const unsigned char> database;  // LiteralGate::Serialized() of the stored slots
  std::uint32_t always_slots = 0;           // LiteralGate::always_slots()
  std::uint32_t gated_slots = 0;            // LiteralGate::gated_slots()
  // SlotFingerprint() of every stored slot the gate was built from, slot 1 first.
  std::span<const std::uint64_t> slot_fingerprints;
};

// The gate built from StoredRuleSlots() under kRuleKeyText. Never throws.
const StoredRuleGate& StoredRuleGateData();

// Tells apart the slots a gate was built for: FNV-1a over the key text, a zero byte and
// the slot's cipher text. Not a secret and not proof against forgery: it only keeps a gate
// from being used with slots or a key it was not built from.
constexpr std::uint64_t SlotFingerprint(std::string_view key_text, std::string_view cipher_text) {
  std::uint64_t hash = 14695981039346656037ULL;
  auto add = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ULL;
  };
  for (const char c : key_text) add(static_cast<unsigned char>(c));
  add(0);
  for (const char c : cipher_text) add(static_cast<unsigned char>(c));
  return hash;
}

}  // namespace ostrel
