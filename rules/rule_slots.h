#pragma once

// The rule set's stored slots. Only the cipher texts are compiled into the program; the
// reviewed plain patterns live in tools/rules/ and tools/rules/encipher.sh regenerates
// rules/rule_slots.cc from them.

#include <span>
#include <string_view>

#include "rules/new_des.h"  // kRuleKeyText, the key text the slots are enciphered with

namespace ostrel {

// The eight stored rule slots, slot 1 first: upper-case hex DES cipher texts of the attack
// patterns under kRuleKeyText. Slots 1-6 make the compact set, 1-8 the broad set. The views
// refer to static storage and stay valid for the program's life. Never throws.
std::span<const std::string_view> StoredRuleSlots();

}  // namespace ostrel
