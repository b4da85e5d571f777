#include "engine/log_line.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "engine/field_cursor.h"
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

// The client address text that types 1 and 2 require at the start of the line: the text
// up to and including the first space must be an IPv4 address.
bool BeginsWithAddress(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  return IsIPv4(line.substr(0, space + 1));
}

// Lower-cases A-Z of `size` bytes from `in` into `out`, and with kQuotesToDash makes every
// double quote "-".
template <bool kQuotesToDash>
void LowerBytes(const char* in, char* out, std::size_t size) {
  std::size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes at a time: shifted so that 'A'..'Z' become the 26 smallest signed values,
  // the bytes below that bound get their 0x20 bit.
  const __m128i shift = _mm_set1_epi8(static_cast<char>(0x80 - 'A'));
  const __m128i bound = _mm_set1_epi8(static_cast<char>(-128 + 26));
  const __m128i lower_bit = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i dash = _mm_set1_epi8('-');
  const auto lower_sixteen = [&](std::size_t at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
    const __m128i upper = _mm_cmplt_epi8(_mm_add_epi8(bytes, shift), bound);
    __m128i lowered = _mm_or_si128(bytes, _mm_and_si128(upper, lower_bit));
    if constexpr (kQuotesToDash) {
      const __m128i quotes = _mm_cmpeq_epi8(bytes, quote);
      lowered = _mm_or_si128(_mm_andnot_si128(quotes, lowered), _mm_and_si128(quotes, dash));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), lowered);
  };
  for (; i + 16 <= size; i += 16) lower_sixteen(i);
  if (i < size && size >= 16) {
    // The last sixteen bytes once more, overlapping the block before: each output byte
    // depends on its input byte only, so writing one twice changes nothing.
    lower_sixteen(size - 16);
    i = size;
  }
#endif
  for (; i < size; ++i) {
    const char c = LowerAscii(in[i]);
    out[i] = kQuotesToDash && c == '"' ? '-' : c;
  }
}

}  // namespace

LineExtractor::LineExtractor(LogType log_type, IpLocator& locator)
    : log_type_(log_type), locator_(&locator) {}

void LineExtractor::LowerIntoWork(std::string_view trimmed, bool quotes_to_dash) {
  work_.resize(trimmed.size());
  if (quotes_to_dash) {
    LowerBytes<true>(trimmed.data(), work_.data(), trimmed.size());
  } else {
    LowerBytes<false>(trimmed.data(), work_.data(), trimmed.size());
  }
}

const TLogLine* LineExtractor::Take(std::string_view line, SkipReason& reason) {
  taken_ = TLogLine{};
  completed_ = false;
  if (log_type_ == LogType::kAuto) {
    reason = TakeAuto(TrimControls(line));
  } else if (line.find('#') != std::string_view::npos) {
    // "#" is unaffected by lower-casing, so the raw line can be tested before any copy.
    reason = SkipReason::kComment;
  } else {
    LowerIntoWork(TrimControls(line), log_type_ == LogType::kIis);
    reason = log_type_ == LogType::kIis ? TakeIis() : TakeQuoted();
  }
  return reason == SkipReason::kNone ? &taken_ : nullptr;
}

std::optional<TLogLine> LineExtractor::ExtractLogLine(std::string_view line) {
  SkipReason reason = SkipReason::kNone;
  if (Take(line, reason) == nullptr) return std::nullopt;
  Complete();
  return taken_;
}

SkipReason LineExtractor::TakeIis() {
  const std::string_view text = work_;
  std::string_view fields[kIisMinFields];
  std::size_t count = 0;
  ForEachField(text, [&](std::string_view field, std::size_t) {
    fields[count++] = field;
    return count < kIisMinFields;
  });
  if (count < kIisMinFields) throw LineError::TooFewFields(CountFields(text));
  taken_.SubjectA = fields[kIisMethodField];
  taken_.SubjectB = fields[kIisQueryField];
  taken_.StatusText = fields[kIisStatusField];
  taken_.Client = fields[kIisClientField];
  taken_.Method = fields[kIisMethodField];
  // Date and time, the first two fields.
  taken_.Time = text.substr(0, fields[1].data() + fields[1].size() - text.data());
  taken_.Layout = LineLayout::kIis;
  return SkipReason::kNone;
}

SkipReason LineExtractor::TakeQuoted() {
  const std::string_view text = work_;
  if (!BeginsWithAddress(text)) return SkipReason::kShape;

  const std::size_t first_quote = text.find('"');
  if (first_quote == std::string_view::npos) return SkipReason::kShape;
  const bool tomcat = log_type_ == LogType::kTomcat;
  std::string_view request;
  if (tomcat) {
    const std::size_t last_quote = text.rfind('"');
    if (last_quote <= first_quote) return SkipReason::kShape;
    // From after the first quote up to and including the last one: with referrer and
    // user agent fields the request runs through them.
    request = text.substr(first_quote + 1, last_quote - first_quote);
  } else {
    const std::string_view rest = text.substr(first_quote + 1);
    if (rest.find('"') == std::string_view::npos) return SkipReason::kShape;
    const std::size_t protocol_end = rest.find("/1.1\"");
    // A request of another protocol version (or none before "/1.1") is not analysed.
    if (protocol_end == std::string_view::npos || protocol_end == 0) {
      return SkipReason::kProtocol;
    }
    request = rest.substr(0, protocol_end + 4);
  }
  taken_.Client = FirstField(text);  // the address check guarantees one
  taken_.SubjectA = request;
  taken_.Method = request.substr(0, request.find(' '));
  if (const std::size_t open = text.find('['); open < first_quote) {
    const std::size_t close = text.find(']', open);
    if (close < first_quote) taken_.Time = text.substr(open + 1, close - open - 1);
  }
  taken_.Layout = tomcat ? LineLayout::kTomcat : LineLayout::kApache;

  // The status is read from the output line, which holds the location. Inserting it
  // changes nothing after the last quote (an address holds no quote and no blank), nor the
  // request's position relative to its own closing quote, so it can be read from the line
  // without the location - unless the request also occurs earlier in the line, where the
  // search in the output line would find it first. That case gets the output line now.
  if (tomcat) {
    // Measured from the last quote: past it and one more character.
    taken_.StatusText = CharsAt(text, text.rfind('"'), 2, kStatusChars);
  } else if (text.substr(0, first_quote + request.size()).find(request) < first_quote + 1) {
    Complete();
    const std::string_view out = taken_.Line;
    const std::size_t request_at = out.find(request);
    taken_.StatusText = request_at != std::string_view::npos
                            ? CharsAt(out, request_at + request.size(), 2, kStatusChars)
                            : CharsAt(text, first_quote + 1 + request.size(), 2, kStatusChars);
  } else {
    // Past the request, its closing quote and the space after it. A request that holds the
    // client address gains the location too; the characters behind it stay the same.
    taken_.StatusText = CharsAt(text, first_quote + 1 + request.size(), 2, kStatusChars);
  }
  return SkipReason::kNone;
}

SkipReason LineExtractor::TakeAuto(std::string_view trimmed) {
  if (trimmed.empty()) return SkipReason::kShape;
  if (trimmed.front() == '#') {
    // Only W3C directives begin with "#"; IIS writes a new "#Fields:" after every restart.
    if (std::optional<W3cFields> fields = W3cFields::FromDirective(trimmed)) {
      w3c_fields_ = std::move(fields);
    }
    return SkipReason::kComment;
  }
  if (w3c_fields_) {
    LowerIntoWork(trimmed, true);
    return TakeW3c(*w3c_fields_);
  }
  LowerIntoWork(trimmed, false);
  NcsaParts parts;
  const SkipReason reason = ParseNcsaLine(work_, parts);
  if (reason == SkipReason::kShape && work_.find('"') == std::string::npos) {
    // A W3C log whose directives were cut off: IIS's default layouts by their field count.
    if (const std::optional<W3cFields> fields = W3cFields::IisDefault(CountFields(work_))) {
      LowerIntoWork(trimmed, true);
      return TakeW3c(*fields);
    }
  }
  if (reason != SkipReason::kNone) return reason;
  taken_.SubjectA = parts.request;
  taken_.StatusText = parts.status;
  taken_.Client = parts.client;
  taken_.Method = parts.method;
  taken_.Time = parts.time;
  taken_.Layout = parts.layout;
  return SkipReason::kNone;
}

SkipReason LineExtractor::TakeW3c(const W3cFields& fields) {
  const std::string_view text = work_;
  // Sized once for the directive in effect; each line only fills it in.
  fields_.resize(fields.count());
  std::size_t count = 0;
  bool more_than_named = false;
  ForEachField(text, [&](std::string_view field, std::size_t) {
    if (count == fields_.size()) {
      more_than_named = true;
      return false;
    }
    fields_[count++] = field;
    return true;
  });
  if (more_than_named || count != fields_.size()) return SkipReason::kShape;
  const auto value = [&](W3cFields::Role role) -> std::string_view {
    const std::size_t index = fields.index(role);
    if (index == W3cFields::kMissing || fields_[index] == "-") return {};
    return fields_[index];
  };
  const std::string_view stem = value(W3cFields::kStem);
  const std::string_view uri = value(W3cFields::kUri);
  if (stem.empty() && uri.empty()) return SkipReason::kShape;
  // The request as the client sent it: method, path, query.
  taken_.Method = value(W3cFields::kMethod);
  subject_.clear();
  if (!taken_.Method.empty()) {
    subject_ += taken_.Method;
    subject_ += ' ';
  }
  subject_ += stem.empty() ? uri : stem;
  if (const std::string_view query = value(W3cFields::kQuery); !stem.empty() && !query.empty()) {
    subject_ += '?';
    subject_ += query;
  }
  taken_.SubjectA = subject_;
  taken_.StatusText = value(W3cFields::kStatus);
  taken_.Client = value(W3cFields::kClient);
  const std::string_view date = value(W3cFields::kDate);
  const std::string_view time = value(W3cFields::kTime);
  if (!date.empty() && !time.empty() &&
      fields.index(W3cFields::kTime) == fields.index(W3cFields::kDate) + 1) {
    taken_.Time = text.substr(date.data() - text.data(), time.data() + time.size() - date.data());
  } else {
    taken_.Time = date.empty() ? time : date;
  }
  taken_.Layout = LineLayout::kW3c;
  return SkipReason::kNone;
}

void LineExtractor::ReleaseLargeBuffers() {
  constexpr std::size_t kLarge = std::size_t{1} << 20;
  for (std::string* buffer : {&work_, &line_, &subject_}) {
    if (buffer->capacity() > kLarge) std::string().swap(*buffer);
  }
  taken_ = TLogLine{};
}

bool LineExtractor::ClientIsAddress() const {
  if (IsIPv4(taken_.Client)) return true;
  return log_type_ == LogType::kAuto && IsIPv6(taken_.Client);
}

bool LineExtractor::Complete() {
  if (completed_) return insertion_fits_;
  completed_ = true;
  insertion_fits_ = true;
  if (ClientIsAddress()) {
    const std::string_view location = locator_->Locate(taken_.Client);
    insertion_fits_ = InsertLocation(taken_.Client, location);
    if (insertion_fits_) taken_.Location = location;
  } else {
    line_.assign(work_);
  }
  taken_.Line = line_;
  return insertion_fits_;
}

bool LineExtractor::InsertLocation(std::string_view address, std::string_view location) {
  const std::string_view text = work_;
  line_.clear();
  std::size_t occurrences = 0;
  for (std::size_t at = text.find(address); at != std::string_view::npos;
       at = text.find(address, at + address.size())) {
    ++occurrences;
  }
  const std::size_t allowance = std::max(kMinInsertionAllowance, 2 * text.size());
  if (occurrences * (location.size() + 1) > allowance) {
    line_.append(text);
    return false;
  }
  line_.reserve(text.size() + occurrences * (location.size() + 1));
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
  return true;
}

bool IsIPv6(std::string_view text) {
  text = TrimControls(text);
  if (text.size() < 2 || text.size() > 64 || text.find(':') == std::string_view::npos) {
    return false;
  }
  char copy[65];
  std::size_t size = std::min(text.find('%'), text.size());
  text.copy(copy, size);
  copy[size] = '\0';
  in6_addr address{};
  return ::inet_pton(AF_INET6, copy, &address) == 1;
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
