#include "engine/log_line.h"

#include <cstddef>
#include <cstdint>

#include "engine/ip_locator.h"
#include "engine/line_error.h"

namespace ostrel {
namespace {

// Fields of the IIS W3C layout the extraction reads.
constexpr std::size_t kIisMethodField = 3;
constexpr std::size_t kIisQueryField = 5;
constexpr std::size_t kIisClientField = 8;
constexpr std::size_t kIisStatusField = 10;
constexpr std::size_t kIisMinFields = kIisStatusField + 1;

// Characters a status text is made of.
constexpr std::size_t kStatusChars = 3;

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsFieldSeparator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

std::string_view TrimControls(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

// The byte offset one UTF-8 character after `pos` (or the end).
std::size_t NextChar(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return text.size();
  ++pos;
  while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  return pos;
}

// Up to `count` characters of `text`, starting `skip` characters after byte offset `pos`.
// Status offsets and lengths count characters, so a multi-byte character is never cut.
std::string_view CharsAt(std::string_view text, std::size_t pos, std::size_t skip,
                         std::size_t count) {
  for (; skip > 0; --skip) pos = NextChar(text, pos);
  std::size_t end = pos;
  for (; count > 0; --count) end = NextChar(text, end);
  return text.substr(pos, end - pos);
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

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::string_view field_;
};

std::size_t CountFields(std::string_view text) {
  FieldCursor cursor(text);
  std::size_t count = 0;
  while (cursor.Next()) ++count;
  return count;
}

// The client address text that types 1 and 2 require at the start of the line: the text
// up to and including the first space must be an IPv4 address.
bool BeginsWithAddress(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  return IsIPv4(line.substr(0, space + 1));
}

}  // namespace

LineExtractor::LineExtractor(LogType log_type, IpLocator& locator)
    : log_type_(log_type), locator_(&locator) {}

std::optional<TLogLine> LineExtractor::ExtractLogLine(std::string_view line) {
  // "#" is unaffected by lower-casing, so the raw line can be tested before any copy.
  if (line.find('#') != std::string_view::npos) return std::nullopt;
  const std::string_view trimmed = TrimControls(line);

  work_.resize(trimmed.size());
  const bool iis = log_type_ == LogType::kIis;
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    char c = trimmed[i];
    if (static_cast<unsigned char>(c - 'A') < 26) {
      c = static_cast<char>(c + ('a' - 'A'));
    } else if (iis && c == '"') {
      c = '-';
    }
    work_[i] = c;
  }
  return iis ? ExtractIis() : ExtractQuoted();
}

std::optional<TLogLine> LineExtractor::ExtractIis() {
  const std::string_view text = work_;
  std::string_view fields[kIisMinFields];
  FieldCursor cursor(text);
  std::size_t count = 0;
  while (count < kIisMinFields && cursor.Next()) fields[count++] = cursor.field();
  if (count < kIisMinFields) throw LineError::TooFewFields(CountFields(text));

  const std::string_view address = fields[kIisClientField];
  InsertLocation(address, locator_->Locate(address));
  return TLogLine{line_, fields[kIisMethodField], fields[kIisQueryField], fields[kIisStatusField]};
}

std::optional<TLogLine> LineExtractor::ExtractQuoted() {
  const std::string_view text = work_;
  if (!BeginsWithAddress(text)) return std::nullopt;

  const std::size_t first_quote = text.find('"');
  if (first_quote == std::string_view::npos) return std::nullopt;
  std::string_view request;
  if (log_type_ == LogType::kTomcat) {
    const std::size_t last_quote = text.rfind('"');
    if (last_quote <= first_quote) return std::nullopt;
    // From after the first quote up to and including the last one: with referrer and
    // user agent fields the request runs through them.
    request = text.substr(first_quote + 1, last_quote - first_quote);
  } else {
    const std::string_view rest = text.substr(first_quote + 1);
    if (rest.find('"') == std::string_view::npos) return std::nullopt;
    const std::size_t protocol_end = rest.find("/1.1\"");
    // A request of another protocol version (or none before "/1.1") is not analysed.
    if (protocol_end == std::string_view::npos || protocol_end == 0) return std::nullopt;
    request = rest.substr(0, protocol_end + 4);
  }

  FieldCursor cursor(text);
  cursor.Next();  // the address check guarantees a first field
  const std::string_view address = cursor.field();
  InsertLocation(address, locator_->Locate(address));
  const std::string_view out = line_;

  std::string_view status;
  if (log_type_ == LogType::kTomcat) {
    // Measured from the last quote of the output line: past it and one more character.
    status = CharsAt(out, out.rfind('"'), 2, kStatusChars);
  } else {
    const std::size_t request_at = out.find(request);
    if (request_at != std::string_view::npos) {
      // Past the request, its closing quote and the space after it.
      status = CharsAt(out, request_at + request.size(), 2, kStatusChars);
    } else {
      // The request held the client address and gained the location, so it is no longer
      // in the output line as it was. Read the status where it stands behind the request:
      // the insertion never changes the characters right after the closing quote, since an
      // address holds neither quote nor blank.
      status = CharsAt(text, first_quote + 1 + request.size(), 2, kStatusChars);
    }
  }
  return TLogLine{out, request, std::string_view(), status};
}

void LineExtractor::InsertLocation(std::string_view address, std::string_view location) {
  const std::string_view text = work_;
  line_.clear();
  if (address.empty()) {
    line_.append(text);
    return;
  }
  // Copy the text piece by piece: up to and including each occurrence, then the location.
  std::size_t from = 0;
  for (std::size_t at = text.find(address); at != std::string_view::npos;
       at = text.find(address, from)) {
    const std::size_t end = at + address.size();
    line_.append(text.substr(from, end - from));
    line_.push_back(' ');
    line_.append(location);
    from = end;
  }
  line_.append(text.substr(from));
}

bool IsIPv4(std::string_view text) {
  text = TrimControls(text);
  int parts = 0;
  while (!text.empty()) {
    const std::size_t dot = text.find('.');
    std::string_view part;
    if (dot == std::string_view::npos) {
      part = text;
      text = {};
    } else {
      part = text.substr(0, dot);
      text.remove_prefix(dot + 1);
    }
    if (part.empty() || ++parts > 4) return false;
    const std::optional<std::int32_t> value = ReadInteger(part);
    if (!value || *value < 0 || *value > 255) return false;
  }
  return parts == 4;
}

std::string_view CopyToLastChar(std::string_view text, char ch) {
  const std::size_t last = text.rfind(ch);
  if (last == std::string_view::npos) return {};
  return text.substr(0, last + 1);
}

std::optional<std::int32_t> ReadInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;

  if (hex) {
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      std::uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
      if (value > 0x0FFFFFFFu) return std::nullopt;  // a ninth significant digit
      value = (value << 4) | digit;
    }
    // Eight hex digits fill the 32 bits; the top bit makes the number negative.
    const auto signed_value = static_cast<std::int32_t>(value);
    return negative ? static_cast<std::int32_t>(0u - value) : signed_value;
  }

  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace ostrel
