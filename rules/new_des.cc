#include "rules/new_des.h"

#include <bit>
#include <cstddef>
#include <exception>
#include <optional>
#include <stdexcept>

namespace ostrel {
namespace {

// FIPS 46-3 tables. Entries are 1-based bit numbers of the input, bit 1 the most
// significant.
constexpr std::array<std::uint8_t, 64> kInitialPermutation = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::array<std::uint8_t, 64> kFinalPermutation = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25};

constexpr std::array<std::uint8_t, 48> kExpansion = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr std::array<std::uint8_t, 32> kPermutation = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                                       26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                                       3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::array<std::uint8_t, 56> kPermutedChoice1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::array<std::uint8_t, 48> kPermutedChoice2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::array<std::uint8_t, 16> kRotations = {1, 1, 2, 2, 2, 2, 2, 2,
                                                     1, 2, 2, 2, 2, 2, 2, 1};

// S1..S8, each as four rows of sixteen columns.
constexpr std::uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Picks the bits that table names out of the in_bits low bits of input.
template <std::size_t N>
constexpr std::uint64_t Permute(std::uint64_t input, int in_bits,
                                const std::array<std::uint8_t, N>& table) {
  std::uint64_t output = 0;
  for (const std::uint8_t bit : table) {
    output = (output << 1) | ((input >> (in_bits - bit)) & 1U);
  }
  return output;
}

// S-box lookups with the permutation P already applied: kSpBoxes[b][v] is
// P(S_b(v) in its place among the 32 output bits), so f() is eight lookups and seven ors.
using SpBoxes = std::array<std::array<std::uint32_t, 64>, 8>;
constexpr SpBoxes MakeSpBoxes() {
  SpBoxes boxes{};
  for (int box = 0; box < 8; ++box) {
    for (int value = 0; value < 64; ++value) {
      const int row = ((value >> 4) & 2) | (value & 1);
      const int column = (value >> 1) & 0xF;
      const std::uint64_t s_out = kSBoxes[box][row * 16 + column];
      const std::uint64_t placed = s_out << (28 - 4 * box);
      boxes[box][value] = static_cast<std::uint32_t>(Permute(placed, 32, kPermutation));
    }
  }
  return boxes;
}
constexpr SpBoxes kSpBoxes = MakeSpBoxes();

// A 64-bit permutation as eight byte-indexed lookups: kTable[j][v] holds the output bits
// that byte j of the input contributes when it has the value v.
using BytePermutation = std::array<std::array<std::uint64_t, 256>, 8>;
constexpr BytePermutation MakeBytePermutation(const std::array<std::uint8_t, 64>& table) {
  BytePermutation lookup{};
  for (int byte = 0; byte < 8; ++byte) {
    for (int value = 0; value < 256; ++value) {
      lookup[byte][value] =
          Permute(static_cast<std::uint64_t>(value) << (56 - 8 * byte), 64, table);
    }
  }
  return lookup;
}
constexpr BytePermutation kInitialLookup = MakeBytePermutation(kInitialPermutation);
constexpr BytePermutation kFinalLookup = MakeBytePermutation(kFinalPermutation);

std::uint64_t PermuteBytes(std::uint64_t input, const BytePermutation& lookup) {
  std::uint64_t output = 0;
  for (int byte = 0; byte < 8; ++byte) {
    output |= lookup[byte][(input >> (56 - 8 * byte)) & 0xFF];
  }
  return output;
}

// The rotation in Feistel() is the expansion E: check it against the table, bit by bit.
constexpr bool RotationIsExpansion() {
  for (int bit = 1; bit <= 32; ++bit) {
    const std::uint32_t right = std::uint32_t{1} << (32 - bit);
    std::uint64_t rotated = 0;
    for (int box = 0; box < 8; ++box) {
      rotated = (rotated << 6) | (std::rotl(right, 4 * box - 1) >> 26);
    }
    if (rotated != Permute(right, 32, kExpansion)) return false;
  }
  return true;
}
static_assert(RotationIsExpansion());

// f(R, K) = P(S(E(R) xor K)). E gives S-box b the six bits 4b..4b+5 of R (bit 0 being bit
// 32), which a rotation brings to the top.
std::uint32_t Feistel(std::uint32_t right, std::uint64_t round_key) {
  std::uint32_t out = 0;
  for (int box = 0; box < 8; ++box) {
    const std::uint32_t expanded = std::rotl(right, 4 * box - 1) >> 26;
    const auto key_bits = static_cast<std::uint32_t>(round_key >> (42 - 6 * box)) & 0x3F;
    out |= kSpBoxes[box][expanded ^ key_bits];
  }
  return out;
}

std::uint64_t LoadBigEndian(const std::array<std::uint8_t, 8>& bytes) {
  std::uint64_t value = 0;
  for (const std::uint8_t byte : bytes) value = (value << 8) | byte;
  return value;
}

std::array<std::uint8_t, 8> StoreBigEndian(std::uint64_t value) {
  std::array<std::uint8_t, 8> bytes{};
  for (int i = 7; i >= 0; --i) {
    bytes[i] = static_cast<std::uint8_t>(value & 0xFF);
    value >>= 8;
  }
  return bytes;
}

std::optional<std::uint8_t> HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  return std::nullopt;
}

// Overwrites a block that held plain text, in a way the compiler may not drop.
void WipeBlock(DesBlock& block) {
  volatile std::uint8_t* bytes = block.data();
  for (std::size_t i = 0; i < block.size(); ++i) bytes[i] = 0;
}

}  // namespace

DesKey KeyFromText(std::string_view key_text) noexcept {
  DesKey key{};
  for (std::size_t i = 0; i < key_text.size(); ++i) {
    const std::size_t position = i + 1;
    key[position % 8] =
        static_cast<std::uint8_t>(key[position % 8] + static_cast<unsigned char>(key_text[i]));
  }
  return key;
}

RoundKeys BuildRoundKeys(const DesKey& key, CipherDirection direction) noexcept {
  constexpr std::uint32_t kHalfMask = 0x0FFFFFFF;
  const std::uint64_t selected = Permute(LoadBigEndian(key), 64, kPermutedChoice1);
  std::uint32_t c = static_cast<std::uint32_t>(selected >> 28) & kHalfMask;
  std::uint32_t d = static_cast<std::uint32_t>(selected) & kHalfMask;
  RoundKeys keys{};
  for (std::size_t round = 0; round < 16; ++round) {
    const int shift = kRotations[round];
    c = ((c << shift) | (c >> (28 - shift))) & kHalfMask;
    d = ((d << shift) | (d >> (28 - shift))) & kHalfMask;
    const std::uint64_t joined = (static_cast<std::uint64_t>(c) << 28) | d;
    const std::size_t slot = direction == CipherDirection::kEncrypt ? round : 15 - round;
    keys[slot] = Permute(joined, 56, kPermutedChoice2);
  }
  return keys;
}

DesBlock CipherBlock(const DesBlock& block, const RoundKeys& round_keys) noexcept {
  const std::uint64_t permuted = PermuteBytes(LoadBigEndian(block), kInitialLookup);
  std::uint32_t left = static_cast<std::uint32_t>(permuted >> 32);
  std::uint32_t right = static_cast<std::uint32_t>(permuted);
  for (const std::uint64_t round_key : round_keys) {
    const std::uint32_t next_right = left ^ Feistel(right, round_key);
    left = right;
    right = next_right;
  }
  // The halves are not swapped after the last round: the preoutput is R16 L16.
  const std::uint64_t preoutput = (static_cast<std::uint64_t>(right) << 32) | left;
  return StoreBigEndian(PermuteBytes(preoutput, kFinalLookup));
}

std::string DecryptHexText(std::string_view hex_text, std::string_view key_text) noexcept {
  if (hex_text.empty()) return {};
  const RoundKeys round_keys = BuildRoundKeys(KeyFromText(key_text), CipherDirection::kDecrypt);
  const std::size_t byte_count = (hex_text.size() + 1) / 2;
  const std::size_t block_count = (byte_count + 7) / 8;
  std::string plain;
  try {
    // Reserved once so the plain text is never copied into a buffer that is freed unwiped.
    plain.reserve(block_count * 8);
  } catch (const std::exception&) {  // bad_alloc or length_error: fail as documented
    return {};
  }
  DesBlock block{};
  std::size_t filled = 0;
  for (std::size_t pos = 0; pos < hex_text.size(); pos += 2) {
    const std::optional<std::uint8_t> high = HexDigitValue(hex_text[pos]);
    if (!high) return {};
    std::uint8_t byte = *high;
    if (pos + 1 < hex_text.size()) {
      const std::optional<std::uint8_t> low = HexDigitValue(hex_text[pos + 1]);
      if (!low) return {};
      byte = static_cast<std::uint8_t>((byte << 4) | *low);
    }
    block[filled++] = byte;
    if (filled == 8 || pos + 2 >= hex_text.size()) {
      for (std::size_t i = filled; i < 8; ++i) block[i] = 0;
      DesBlock out = CipherBlock(block, round_keys);
      plain.append(reinterpret_cast<const char*>(out.data()), out.size());
      WipeBlock(out);
      filled = 0;
    }
  }
  const std::size_t zero = plain.find('\0');
  if (zero != std::string::npos) plain.resize(zero);
  return plain;
}

std::string EncryptToHexText(std::string_view plain_text, std::string_view key_text) {
  if (plain_text.find('\0') != std::string_view::npos) {
    throw std::invalid_argument("plain text contains a zero byte; it cannot be enciphered");
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const RoundKeys round_keys = BuildRoundKeys(KeyFromText(key_text), CipherDirection::kEncrypt);
  std::string hex;
  hex.reserve((plain_text.size() + 7) / 8 * 16);
  for (std::size_t pos = 0; pos < plain_text.size(); pos += 8) {
    DesBlock block{};
    for (std::size_t i = 0; i < 8 && pos + i < plain_text.size(); ++i) {
      block[i] = static_cast<std::uint8_t>(plain_text[pos + i]);
    }
    const DesBlock out = CipherBlock(block, round_keys);
    WipeBlock(block);
    for (const std::uint8_t byte : out) {
      hex.push_back(kDigits[byte >> 4]);
      hex.push_back(kDigits[byte & 0xF]);
    }
  }
  return hex;
}

}  // namespace ostrel
