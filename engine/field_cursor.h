#pragma once

// Internal to engine/: how log lines are cut into fields.

#include <cstddef>
#include <string_view>

namespace ostrel {

// Codes 0 to 32 are trimmed from both ends of a line.
inline bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }
// Fields are separated by runs of codes 1 to 32.
inline bool IsFieldSeparator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

inline std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

// Walks the fields of a text: the stretches between runs of codes 1 to 32.
class FieldCursor {
 public:
  explicit FieldCursor(std::string_view text) : text_(text) {}

  // Advances to the next field; false at the end of the text.
  bool Next() {
    while (pos_ < text_.size() && IsFieldSeparator(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsFieldSeparator(text_[pos_])) ++pos_;
    field_ = text_.substr(start, pos_ - start);
    return true;
  }
  std::string_view field() const { return field_; }
  // Byte offset of the current field in the text.
  std::size_t offset() const { return static_cast<std::size_t>(field_.data() - text_.data()); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::string_view field_;
};

inline std::size_t CountFields(std::string_view text) {
  FieldCursor cursor(text);
  std::size_t count = 0;
  while (cursor.Next()) ++count;
  return count;
}

// Lower-cases A-Z only; every other byte stays.
inline char LowerAscii(char c) {
  return static_cast<unsigned char>(c - 'A') < 26 ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i) {
    if (LowerAscii(text[i]) != lower_prefix[i]) return false;
  }
  return true;
}

}  // namespace ostrel
