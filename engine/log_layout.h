#pragma once

// The field layouts the auto log type recognises from a log's content: W3C extended by its
// "#Fields:" directive, NCSA common/combined (also what Tomcat's and Weblogic's access log
// valves write) and Apache's vhost_combined. Every function here works on one lower-cased,
// trimmed line and allocates nothing per line.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The layout a line was read in: the three fixed log types, then what the auto type knows.
enum class LineLayout : std::uint8_t {
  kUnknown,
  kIis,            // log type 0: W3C fields at fixed positions
  kTomcat,         // log type 1
  kApache,         // log type 2
  kW3c,            // W3C extended, fields named by a "#Fields:" directive
  kCommon,         // NCSA common: client ident user [time] "request" status size
  kCombined,       // NCSA combined: common plus quoted referrer and user agent
  kVhostCombined,  // host[:port] first, then combined
};

// A short stable name: "iis", "tomcat", "apache", "w3c", "common", "combined",
// "vhost_combined", or "unknown".
std::string_view LayoutName(LineLayout layout);

// The fields of a W3C extended log as one "#Fields:" directive names them.
class W3cFields {
 public:
  // Roles the extraction reads. kCount must stay last.
  enum Role : std::uint8_t {
    kDate,
    kTime,
    kClient,  // c-ip
    kMethod,  // cs-method
    kStem,    // cs-uri-stem
    kQuery,   // cs-uri-query
    kUri,     // cs-uri (stem and query in one field)
    kStatus,  // sc-status
    kCount
  };
  static constexpr std::size_t kMissing = SIZE_MAX;

  // Reads a directive line ("#Fields: date time ..."; letter case does not matter). Gives
  // nullopt for any other line, or one that names no field.
  static std::optional<W3cFields> FromDirective(std::string_view directive);
  // The default layout of IIS 7 to 8 (14 fields) or IIS 8.5 and later (15 fields), for a W3C
  // log whose directives were cut off; nullopt for other counts.
  static std::optional<W3cFields> IisDefault(std::size_t field_count);

  std::size_t count() const { return names_.size(); }
  // The index of the field with `role`, or kMissing.
  std::size_t index(Role role) const { return index_[role]; }
  // The field names as the directive wrote them.
  const std::vector<std::string>& names() const { return names_; }

  // The result file's header for lines of this layout: the field names, with the Chinese
  // names of the fixed IIS header where a field has one and "物理地址" after the client.
  std::string ResultHeader() const;

  bool operator==(const W3cFields& other) const { return names_ == other.names_; }

 private:
  explicit W3cFields(std::vector<std::string> names);
  std::vector<std::string> names_;
  std::array<std::size_t, kCount> index_{};
};

// What a quoted-request line (NCSA, vhost_combined, Tomcat) holds. Views into the line.
struct NcsaParts {
  LineLayout layout = LineLayout::kUnknown;  // kCommon, kCombined or kVhostCombined
  std::string_view client;
  std::string_view time;     // inside the brackets, empty when the line has none
  std::string_view request;  // between the quotes, as the client sent it
  std::string_view method;   // the request's first word
  std::string_view status;   // the word right after the request's closing quote
};

// Why a line was not examined.
enum class SkipReason : std::uint8_t {
  kNone,
  kComment,   // a comment or a W3C directive line
  kShape,     // not the shape the log type reads (too few fields or quotes, no address)
  kProtocol,  // log type 2: a request whose protocol text does not end in "/1.1"
  kNotHttp,   // a line that is no HTTP request at all (TLS or SSH bytes, "PRI *", "-")
};

// Reads a quoted-request line: the client (field 0, or field 1 when the bracketed time is
// the fifth field as in vhost_combined), the request up to its closing quote (a quote after
// a backslash is part of it, as Apache escapes quotes), the status after it. Gives
// kNotHttp when the quoted text is no HTTP request and kShape when the line lacks a
// complete quoted request; kNone with `parts` filled otherwise.
SkipReason ParseNcsaLine(std::string_view line, NcsaParts& parts);

// Whether a request text looks like an HTTP request line: a method word, a blank, a
// target, and optionally a blank and "http/x[.y]" (HTTP/0.9 has none). The HTTP/2
// connection preface ("pri * http/2.0") is no request.
bool LooksLikeHttpRequest(std::string_view request);

// The layout most of the first lines of `text` (raw bytes of a log, one or more lines)
// are in, by the auto type's rules; kUnknown when no line is recognised.
LineLayout GuessLayout(std::string_view text);

// The text of the last "#Fields:" directive line in `text`, if any (case does not matter;
// only lines that begin with "#" are looked at).
std::optional<std::string_view> LastFieldsDirective(std::string_view text);

}  // namespace ostrel
