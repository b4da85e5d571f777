#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// Encoding helpers for the GBK texts of QQWry.dat and of GBK result files. All are
// thread-safe: each call owns its converter, nothing is shared between calls. ASCII-only
// input is copied without touching iconv.

// Decodes GBK text as GB18030 (the GBK superset) into UTF-8. Every byte that cannot be
// decoded becomes U+FFFD and decoding resumes at the next byte. Never throws on bad input.
std::string GbkToUtf8(std::string_view gbk);

// Whether `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence. Allocates nothing.
bool IsValidUtf8(std::string_view text);

// Encodes UTF-8 text as GBK (code page 936) for GBK output files. A character GBK cannot
// hold, and each byte of an invalid UTF-8 sequence, becomes '?'. Never throws on bad input.
std::string Utf8ToGbk(std::string_view utf8);

}  // namespace ostrel
