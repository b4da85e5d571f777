#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel {

// A log line that cannot be analysed for the chosen log type and stops the run: a type 0
// line with fewer than 11 fields, or (status filter on) a status text that is not an
// integer. what() says what is wrong and what the user can do; it names neither file nor
// line, which the run adds.
class LineError : public std::runtime_error {
 public:
  enum class Kind : std::uint8_t { kTooFewFields, kStatusNotInteger };

  // The error for a type 0 line that has only `field_count` fields (fewer than 11).
  static LineError TooFewFields(std::size_t field_count);
  // The error for a status text that the status filter cannot read as an integer. Control
  // characters of `status_text` are shown escaped, so the message is always printable.
  // `hint` says what the line holds and which type or option reads it (ReadingHint); when
  // empty, a general advice is given.
  static LineError StatusNotInteger(std::string_view status_text, std::string_view hint = {});

  Kind kind() const { return kind_; }

 private:
  LineError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

  Kind kind_;
};

}  // namespace ostrel
