#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// Whether every byte of `text` is below 0x80. Allocates nothing.
bool IsAsciiText(std::string_view text);

// Turns one input line (its line end already cut off) into valid UTF-8 text: a line that
// is valid UTF-8 is given as it is (a view of `raw`), any other line is decoded as GB18030
// into `scratch` (bytes valid in neither become U+FFFD) and a view of `scratch` is given.
// Allocates only for lines that need decoding; never throws on bad input.
std::string_view DecodeLine(std::string_view raw, std::string& scratch);

// Whether the first bytes of a file (`head`) are no text: after any leading NUL bytes
// (which a log truncated under its writer may begin with), more than one byte in twenty is
// NUL or a control character that text does not hold. A head of NULs only counts as text.
bool LooksLikeBinary(std::string_view head);

// Removes every CR byte from `line` in place (a CR before the LF ends the line, any other
// CR is dropped from the line text) and gives the shortened view. Touches nothing when the
// line holds no CR.
std::string_view DropCarriageReturns(char* line, std::size_t size);

// The text of one raw input line (its LF cut off): DropCarriageReturns, then DecodeLine.
// An ASCII line without CR, the common case, is seen in one pass and given as it is.
std::string_view InputLineText(char* line, std::size_t size, std::string& scratch);

}  // namespace ostrel
