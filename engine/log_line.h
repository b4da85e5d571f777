#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/options.h"

namespace ostrel {

class IpLocator;

// One extracted log line. All four texts are UTF-8 views into the buffers of the
// LineExtractor that made them: they stay valid until that extractor's next
// ExtractLogLine call or its destruction. Copy them to keep them longer.
struct TLogLine {
  std::string_view Line;        // the output line: lower-cased in A-Z, trimmed, location inserted
  std::string_view SubjectA;    // type 0: field 3 (method); types 1, 2: the request text
  std::string_view SubjectB;    // type 0: field 5 (URI query); types 1, 2: empty
  std::string_view StatusText;  // what the status filter reads as an integer
};

// Takes one log line apart for one log type. Owns the buffers that the TLogLine views
// point into and reuses them, so a warmed-up extractor allocates nothing per line (the
// locator allocates on a cache miss only). One per worker thread: not thread-safe.
class LineExtractor {
 public:
  // `locator` must outlive the extractor and stay where it is (it is held by address).
  LineExtractor(LogType log_type, IpLocator& locator);

  // Extracts `line` (valid UTF-8, without its line end). Gives nullopt for a skipped line:
  // one holding "#", or a type 1/2 line that does not begin with an IPv4 address and a
  // space, lacks the quoted request, or (type 2) whose request does not end in "/1.1".
  // Every line that is not skipped costs one locator call. Throws LineError for a type 0
  // line with fewer than 11 fields. See TLogLine for the lifetime of the views.
  std::optional<TLogLine> ExtractLogLine(std::string_view line);

  LogType log_type() const { return log_type_; }

 private:
  std::optional<TLogLine> ExtractIis();
  std::optional<TLogLine> ExtractQuoted();
  // Writes work_ into line_ with `location` after every occurrence of `address`.
  void InsertLocation(std::string_view address, std::string_view location);

  LogType log_type_;
  IpLocator* locator_;
  std::string work_;  // the line after lower-casing, trimming and the type's step 4
  std::string line_;  // the output line
};

// True when `text`, trimmed of codes 0 to 32 at both ends, is four parts separated by "."
// that each read (ReadInteger) as an integer from 0 to 255. One trailing dot after the
// fourth part is accepted ("1.2.3.4."); an empty part fails.
bool IsIPv4(std::string_view text);

// The prefix of `text` up to and including the last `ch`, or an empty view when `ch` does
// not occur. Its size is the 1-based position of the last `ch`.
std::string_view CopyToLastChar(std::string_view text, char ch);

// Reads `text` as a signed 32-bit integer: leading spaces (code 32 only), an optional "+"
// or "-", then either decimal digits or hexadecimal digits after "$", "x", "X", "0x" or
// "0X" (at most eight significant ones; from 80000000 on they read as negative numbers),
// and nothing after. Gives nullopt for anything else: an empty text, a missing digit, a
// trailing blank, a decimal number outside the signed 32-bit range.
std::optional<std::int32_t> ReadInteger(std::string_view text);

}  // namespace ostrel
