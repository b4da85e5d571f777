#pragma once

// Text helpers for the HTML report. Hits are hostile input: every text that reaches the
// report passes through AppendHtmlEscaped.

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel {

// Appends `text` escaped for HTML (and SVG) text and for double-quoted attribute values:
// & < > " ' become character references; control characters other than tab, LF and CR
// become U+FFFD, as HTML holds no others. `text` is UTF-8.
void AppendHtmlEscaped(std::string_view text, std::string& out);
std::string HtmlEscaped(std::string_view text);

// The longest prefix of UTF-8 `text` of at most `max_bytes` bytes that ends between two
// characters.
std::string_view Utf8Prefix(std::string_view text, std::size_t max_bytes);

// `text` cut to at most `max_columns` display columns (a CJK or other wide character
// takes two), with "…" in the last column when it was cut.
std::string CutToColumns(std::string_view text, std::size_t max_columns);

}  // namespace ostrel
