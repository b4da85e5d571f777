#pragma once

// The rule cipher: DES (FIPS 46-3) in electronic code book mode over hexadecimal text.
// Rule slots hold DES cipher text as hex digits; DecryptHexText turns one back into the
// pattern text and EncryptToHexText makes such a cipher text from a pattern.
// Every function here is pure and keeps no state between calls, so any thread may call it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

// One 64-bit block; byte 0 holds bits 1-8 (bit 1 is its most significant bit).
using DesBlock = std::array<std::uint8_t, 8>;
// A 64-bit cipher key, bits numbered as for a block; bits 8, 16, ..., 64 are unused.
using DesKey = std::array<std::uint8_t, 8>;
// Sixteen 48-bit round keys in the order the rounds use them. Each value holds its 48 bits
// in its low bits, round-key bit 1 as bit 47 of the value.
using RoundKeys = std::array<std::uint64_t, 16>;

enum class CipherDirection { kEncrypt, kDecrypt };

// The key text "tarvin" that the rule slots are enciphered with.
inline constexpr std::string_view kRuleKeyText = "tarvin";

// Folds a key text of any length onto eight bytes: the byte at 1-based position p is added,
// modulo 256, to key byte (p mod 8). An empty text gives the all-zero key. Never throws.
DesKey KeyFromText(std::string_view key_text) noexcept;

// The FIPS 46-3 key schedule. For kEncrypt the result holds K1..K16, for kDecrypt
// K16..K1. No parity is checked. Never throws.
RoundKeys BuildRoundKeys(const DesKey& key, CipherDirection direction) noexcept;

// Runs the 16 DES rounds (IP, rounds with the keys in the order given, IP^-1) over one
// block. Encrypts or decrypts depending on the order of the round keys. Never throws.
DesBlock CipherBlock(const DesBlock& block, const RoundKeys& round_keys) noexcept;

// Deciphers a hex cipher text with the key made from key_text. Hex digits 0-9, A-F, a-f
// are read two at a time; a lone last digit gives one byte of value 0-15; the last block
// is completed with zero bytes; the result is cut before its first zero byte.
// Gives the empty string for an empty text, any non-hex character, or any other failure
// (including memory exhaustion). Never throws.
std::string DecryptHexText(std::string_view hex_text, std::string_view key_text) noexcept;

// The inverse of DecryptHexText: enciphers plain_text block by block (last block completed
// with zero bytes) and writes every byte as two upper-case hex digits. An empty text gives
// an empty result. Throws std::invalid_argument when plain_text contains a zero byte, since
// DecryptHexText would cut the text there and the round trip would lose data.
std::string EncryptToHexText(std::string_view plain_text, std::string_view key_text);

}  // namespace ostrel
