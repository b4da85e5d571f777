#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// An INI text read and written the way the Windows profile functions do it: sections in
// file order, section and key names compared without regard to ASCII case, blanks and tabs
// around names and values ignored, one pair of matching quotes around a value removed, and
// at most kMaxIniValueChars characters of a value used. Lines starting with ";" or "#" are
// comments. A repeated section or key answers with its first occurrence.
//
// The text is kept line by line, so writing a value changes only that line (or adds one);
// comments, other sections and other keys stay as they were.
class IniFile {
 public:
  // The longest value, in characters (UTF-8 code points), that a read gives.
  static constexpr std::size_t kMaxIniValueChars = 2047;
  // Files above this size are refused by Load: an INI record is never that large.
  static constexpr std::uintmax_t kMaxIniFileBytes = 16u << 20;

  IniFile() = default;

  // Builds the file from text in UTF-8 (a byte-order mark is skipped), UTF-16 with a
  // byte-order mark, or, when the text is not valid UTF-8, GBK/GB18030 (both converted to
  // UTF-8; undecodable bytes become U+FFFD). Never fails: lines that are neither a section
  // header, a key line nor a comment are kept but ignored, as are keys before the first
  // section.
  static IniFile Parse(std::string_view text);

  // Reads and parses the file at `path`. Gives nothing and sets `error` (naming the path)
  // when the file cannot be read or exceeds kMaxIniFileBytes; a missing file is an error
  // too, so callers that treat it as empty test for existence first.
  static std::optional<IniFile> Load(const std::filesystem::path& path, std::string* error);

  // False when the parsed bytes were not text at all: they hold a NUL character, or they
  // are neither UTF-8 nor GB18030. Such a file still parses, usually to no section.
  bool is_text() const { return is_text_; }

  // The section names in file order, each once, as written in the file.
  std::vector<std::string> SectionNames() const;

  // True when a section of that name exists.
  bool HasSection(std::string_view section) const;

  // The value of `key` in `section`, or `fallback` when either is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;

  // The value of `key` read as ParseProfileInteger does, or `fallback` when it is missing
  // or not a number.
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t fallback) const;

  // Sets `key` in `section` to `value`, creating the section (at the end of the file) and
  // the key (after the section's last key) when missing. An existing key keeps its
  // spelling. Line breaks in the arguments are replaced by blanks, since they would split
  // the line.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // The whole text, lines joined by the line break the parsed text used ("\n" for a new
  // file).
  std::string ToText() const;

  // Writes the text to `path` atomically: into a temporary file in the same folder, flushed
  // to disk, then renamed over `path`. Gives false and sets `error` (naming the path) on
  // failure, leaving any old file untouched and no temporary file behind.
  bool Save(const std::filesystem::path& path, std::string* error) const;

 private:
  struct KeyLine {
    std::size_t line;
    std::string_view key;
    std::string_view value;
  };

  // Index of the first header line of `section`, if any.
  std::optional<std::size_t> FindSection(std::string_view section) const;
  // The key line of `key` in the section whose header is at `header`.
  std::optional<KeyLine> FindKey(std::size_t header, std::string_view key) const;

  std::vector<std::string> lines_;
  std::string line_break_ = "\n";
  bool is_text_ = true;
};

// Reads an integer as the profile functions' callers do: decimal with an optional sign, or
// hexadecimal after "0x", "0X" or "$" (also after a sign; up to 32 bits, taken as a signed
// two's-complement value). Gives nothing for an empty text, trailing garbage or a decimal
// value outside the signed 32-bit range.
std::optional<std::int32_t> ParseProfileInteger(std::string_view text);

// Compares two names without regard to ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace ostrel
