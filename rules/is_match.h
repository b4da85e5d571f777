#pragma once

// The one pattern test of the analysis: PCRE2 (8-bit) in UTF mode with the newline convention
// ANY, one unanchored match from the start that rejects empty matches.

#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel {

// A pattern that cannot be compiled, or an empty pattern. The message is shown to the user
// as it is.
class ERegularExpressionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Message of the error raised for an empty pattern.
inline constexpr std::string_view kEmptyPatternMessage =
    "A regular expression specified in RegEx is required";

// Tells whether pattern matches a non-empty stretch of subject anywhere. Compiles the
// pattern on every call (PCRE2_UTF, newline convention PCRE2_NEWLINE_ANY) and matches
// once from offset 0 (PCRE2_NOTEMPTY | PCRE2_NO_UTF_CHECK) under the match and depth limits
// below; reaching a limit answers false.
// Precondition: subject is valid UTF-8 (checked by an assertion in debug builds only).
// Throws ERegularExpressionError "Error in regular expression at offset %d: %s" when the
// pattern does not compile (invalid UTF-8 in the pattern included; the offset is in bytes),
// and kEmptyPatternMessage when the pattern is empty. Keeps nothing between calls.
bool IsMatch(std::string_view subject, std::string_view pattern);

// Match and depth limits. PCRE2 applies them to the attempt at each start position, so
// they bound the backtracking a hostile subject can cause (a 1 MB subject ends within tens
// of milliseconds) while a long benign subject never reaches them. A pattern without
// backtracking can still cost time proportional to the subject length per start position.
inline constexpr unsigned kMatchLimit = 200'000;
inline constexpr unsigned kDepthLimit = 10'000;

}  // namespace ostrel
