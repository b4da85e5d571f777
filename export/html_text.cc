#include "export/html_text.h"

#include <algorithm>
#include <cstdint>

namespace ostrel {
namespace {

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::uint32_t CodePoint(std::string_view sequence) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  switch (sequence.size()) {
    case 2:
      return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    case 3:
      return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    case 4:
      return (byte(0) & 0x07u) << 18 | (byte(1) & 0x3Fu) << 12 | (byte(2) & 0x3Fu) << 6 |
             (byte(3) & 0x3Fu);
    default:
      return byte(0);
  }
}

// Whether a character takes two columns: the East Asian wide and full-width blocks.
bool IsWide(std::uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

void AppendHtmlEscaped(std::string_view text, std::string& out) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
      case '\n':
      case '\r':
        out += c;
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
}

std::string HtmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendHtmlEscaped(text, out);
  return out;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  // Back up over continuation bytes to the start of the character that does not fit.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string CutToColumns(std::string_view text, std::size_t max_columns) {
  std::size_t columns = 0;
  std::size_t at = 0;
  std::size_t fits = 0;  // bytes that fit in max_columns - 1, for the ellipsis
  while (at < text.size()) {
    const std::size_t length =
        std::min(SequenceLength(static_cast<unsigned char>(text[at])), text.size() - at);
    const std::size_t width = IsWide(CodePoint(text.substr(at, length))) ? 2 : 1;
    if (columns + width > max_columns) {
      std::string cut(text.substr(0, fits));
      cut += "…";
      return cut;
    }
    columns += width;
    at += length;
    if (columns + 1 <= max_columns) fits = at;
  }
  return std::string(text);
}

}  // namespace ostrel
