#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/log_layout.h"
#include "engine/options.h"

namespace ostrel {

class IpLocator;

// One extracted log line. All texts are UTF-8 views into the buffers of the LineExtractor
// that made them: they stay valid until that extractor's next Take or ExtractLogLine call
// or its destruction. Copy them to keep them longer.
struct TLogLine {
  std::string_view Line;        // the output line: lower-cased in A-Z, trimmed, location inserted
  std::string_view SubjectA;    // type 0: field 3 (method); types 1, 2: the request text
  std::string_view SubjectB;    // type 0: field 5 (URI query); types 1, 2: empty
  std::string_view StatusText;  // what the status filter reads as an integer
  // What consumers of hits report beside the output line.
  std::string_view Client;    // the client field (an address when the layout has one)
  std::string_view Location;  // the text inserted after the client; empty when none was
  std::string_view Method;    // the request method, empty when the layout has none
  std::string_view Time;      // the time text of the line, empty when the layout has none
  LineLayout Layout = LineLayout::kUnknown;
};

// Takes one log line apart for one log type. Owns the buffers that the TLogLine views
// point into and reuses them, so a warmed-up extractor allocates nothing per line (the
// locator allocates on a cache miss only). One per worker thread: not thread-safe.
//
// The work is in two steps so that a line's location is looked up only when it is needed:
// Take() gives everything the hit decision reads, Complete() adds the output line with the
// location. The output of the two steps is that of looking up every line.
class LineExtractor {
 public:
  // Output lines may grow by at most this much (or by twice their own size, whichever is
  // more) through the location insertion; a line that would grow more is written unchanged.
  static constexpr std::size_t kMinInsertionAllowance = 4096;

  // `locator` must outlive the extractor and stay where it is (it is held by address).
  LineExtractor(LogType log_type, IpLocator& locator);

  // Takes `line` (valid UTF-8, without its line end) apart up to the hit decision: the
  // subjects, the status text, the client, method and time texts; Line and Location stay
  // empty until Complete(). Gives null and sets `reason` for a skipped line: in the fixed
  // types one holding "#", or a type 1/2 line that does not begin with an IPv4 address and a
  // space, lacks the quoted request, or (type 2) whose request does not end in "/1.1"; in
  // the auto type a directive or comment, a line of no known layout, a line that is no HTTP
  // request. In the auto type a "#Fields:" directive also sets the W3C fields that later
  // lines are read with. Throws LineError for a type 0 line with fewer than 11 fields.
  const TLogLine* Take(std::string_view line, SkipReason& reason);

  // Completes the line Take() gave last: its output line, with the location after every
  // occurrence of the client text when the client is an address (IPv4 in the fixed types,
  // IPv4 or IPv6 in the auto type). Gives false when the insertion would make the line grow
  // past the allowance; the output line is then the line without any location. Costs one
  // locator call when the client is an address. Precondition: Take() gave a line.
  bool Complete();

  // Take() and Complete() in one: nullopt for a skipped line. Throws as Take() does.
  std::optional<TLogLine> ExtractLogLine(std::string_view line);

  // The W3C fields later lines of the auto type are read with (nullopt: those of the last
  // "#Fields:" directive met, or none). The run sets them at the start of each block.
  void SetW3cFields(std::optional<W3cFields> fields) { w3c_fields_ = std::move(fields); }
  const std::optional<W3cFields>& w3c_fields() const { return w3c_fields_; }

  LogType log_type() const { return log_type_; }

  // Gives back the memory of buffers a very long line made large, so an extractor holds
  // about what ordinary lines need. The views of the last line become invalid.
  void ReleaseLargeBuffers();

 private:
  SkipReason TakeIis();
  SkipReason TakeQuoted();
  SkipReason TakeAuto(std::string_view trimmed);
  SkipReason TakeW3c(const W3cFields& fields);
  // Lower-cases `trimmed` into work_, with double quotes made "-" when asked.
  void LowerIntoWork(std::string_view trimmed, bool quotes_to_dash);
  // Writes work_ into line_ with `location` after every occurrence of `address`; false and
  // work_ unchanged in line_ when that would grow past the allowance.
  bool InsertLocation(std::string_view address, std::string_view location);
  bool ClientIsAddress() const;

  LogType log_type_;
  IpLocator* locator_;
  std::optional<W3cFields> w3c_fields_;
  TLogLine taken_;
  bool completed_ = false;
  bool insertion_fits_ = true;  // what the last Complete() gave
  std::string work_;            // the line after lower-casing, trimming and the type's step 4
  std::string line_;            // the output line
  std::string subject_;         // a subject put together from fields (W3C: method, stem, query)
  std::vector<std::string_view> fields_;
};

// True when `text`, trimmed of codes 0 to 32 at both ends, is four parts separated by "."
// that each read (ReadInteger) as an integer from 0 to 255. One trailing dot after the
// fourth part is accepted ("1.2.3.4."); an empty part fails.
bool IsIPv4(std::string_view text);

// True when `text`, trimmed of codes 0 to 32 at both ends, is an IPv6 address in text form
// (an optional "%zone" after it allowed).
bool IsIPv6(std::string_view text);

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
