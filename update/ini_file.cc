#include "update/ini_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "update/atomic_file.h"

namespace ostrel {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string_view Trim(std::string_view text) {
  const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 after its byte-order mark to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  std::string out;
  out.reserve(bytes.size());
  const auto unit = [&](std::size_t i) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char32_t>(big_endian ? (b0 << 8 | b1) : (b1 << 8 | b0));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : u);
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values above U+10FFFF.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

struct IconvDeleter {
  void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};

// Text in the 8-bit code page of the systems the files come from (GBK, read as its
// superset GB18030) to UTF-8; bytes that are not GB18030 become U+FFFD, and `lossless` is
// cleared when that happened.
std::string Gb18030ToUtf8(std::string_view bytes, bool& lossless) {
  const iconv_t opened = iconv_open("UTF-8", "GB18030");
  if (opened == reinterpret_cast<iconv_t>(-1)) {
    lossless = false;
    return std::string(bytes);
  }
  const std::unique_ptr<void, IconvDeleter> converter(opened);
  std::string out;
  out.reserve(bytes.size() * 3 / 2 + 16);
  char buffer[4096];
  // iconv's interface takes a non-const input pointer but never writes through it.
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  while (in_left > 0) {
    char* out_ptr = buffer;
    std::size_t out_left = sizeof buffer;
    const std::size_t result = iconv(opened, &in, &in_left, &out_ptr, &out_left);
    out.append(buffer, sizeof buffer - out_left);
    if (result == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or truncated sequence: mark it and go on after its first byte.
      lossless = false;
      out += "\xEF\xBF\xBD";
      ++in;
      --in_left;
      iconv(opened, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// Cuts `text` after `max_chars` UTF-8 code points (bytes that are not continuation bytes).
std::string_view LimitChars(std::string_view text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (chars == max_chars) return text.substr(0, i);
      ++chars;
    }
  }
  return text;
}

bool IsComment(std::string_view trimmed) {
  return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

// The section name of a header line, or nothing when the line is not a header.
std::optional<std::string_view> HeaderName(std::string_view line) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  trimmed.remove_prefix(1);
  const std::size_t close = trimmed.find(']');
  if (close != std::string_view::npos) trimmed = trimmed.substr(0, close);
  return Trim(trimmed);
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

// Closes a descriptor when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { ::close(fd_); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

 private:
  int fd_;
};

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::optional<std::int32_t> ParseProfileInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool hex = false;
  if (!text.empty() && text.front() == '$') {
    hex = true;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    hex = true;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f') {
      digit = static_cast<unsigned>(LowerAscii(c) - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  std::int64_t signed_value = 0;
  if (hex) {
    // Hexadecimal spells the 32 bits themselves: $FFFFFFFF is -1.
    signed_value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  } else {
    signed_value = static_cast<std::int64_t>(value);
  }
  if (negative) signed_value = -signed_value;
  if (signed_value < std::numeric_limits<std::int32_t>::min() ||
      signed_value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(signed_value);
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  std::string converted;
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    converted = Utf16ToUtf8(text.substr(2), false);
    text = converted;
  } else if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFE &&
             static_cast<unsigned char>(text[1]) == 0xFF) {
    converted = Utf16ToUtf8(text.substr(2), true);
    text = converted;
  } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
    // Bytes after the mark that are not UTF-8 are kept as they are; only whether they are
    // text in the other encoding is asked.
    if (!IsValidUtf8(text)) Gb18030ToUtf8(text, file.is_text_);
  } else if (!IsValidUtf8(text)) {
    converted = Gb18030ToUtf8(text, file.is_text_);
    text = converted;
  }
  // No text in any of these encodings holds a NUL character.
  if (text.find('\0') != std::string_view::npos) file.is_text_ = false;

  const std::size_t first_break = text.find('\n');
  if (first_break != std::string_view::npos && first_break > 0 && text[first_break - 1] == '\r') {
    file.line_break_ = "\r\n";
  }
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    file.lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return file;
}

std::optional<IniFile> IniFile::Load(const std::filesystem::path& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const ScopedFd closer(fd);
  struct stat state {};
  if (::fstat(fd, &state) != 0 || !S_ISREG(state.st_mode)) {
    *error = path.string() + " is not a regular file";
    return std::nullopt;
  }
  if (static_cast<std::uintmax_t>(state.st_size) > kMaxIniFileBytes) {
    *error = path.string() + " is too large for an INI file";
    return std::nullopt;
  }
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = "cannot read " + path.string() + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    // The file may grow while we read it.
    if (text.size() > kMaxIniFileBytes) {
      *error = path.string() + " is too large for an INI file";
      return std::nullopt;
    }
  }
  return Parse(text);
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const std::string& line : lines_) {
    const std::optional<std::string_view> name = HeaderName(line);
    if (!name) continue;
    bool seen = false;
    for (const std::string& known : names) {
      if (EqualsIgnoreCase(known, *name)) {
        seen = true;
        break;
      }
    }
    if (!seen) names.emplace_back(*name);
  }
  return names;
}

bool IniFile::HasSection(std::string_view section) const {
  return FindSection(section).has_value();
}

std::optional<std::size_t> IniFile::FindSection(std::string_view section) const {
  section = Trim(section);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::optional<std::string_view> name = HeaderName(lines_[i]);
    if (name && EqualsIgnoreCase(*name, section)) return i;
  }
  return std::nullopt;
}

std::optional<IniFile::KeyLine> IniFile::FindKey(std::size_t header, std::string_view key) const {
  key = Trim(key);
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    const std::string_view line = lines_[i];
    if (HeaderName(line)) break;
    const std::string_view trimmed = Trim(line);
    if (IsComment(trimmed)) continue;
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = Trim(trimmed.substr(0, equals));
    if (name.empty() || !EqualsIgnoreCase(name, key)) continue;
    return KeyLine{i, name, Trim(trimmed.substr(equals + 1))};
  }
  return std::nullopt;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  const std::optional<std::size_t> header = FindSection(section);
  if (!header) return std::string(fallback);
  const std::optional<KeyLine> found = FindKey(*header, key);
  if (!found) return std::string(fallback);
  std::string_view value = found->value;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(LimitChars(value, kMaxIniValueChars));
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t fallback) const {
  const std::optional<std::size_t> header = FindSection(section);
  if (!header || !FindKey(*header, key)) return fallback;
  return ParseProfileInteger(ReadString(section, key, "")).value_or(fallback);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string clean_section = WithoutLineBreaks(Trim(section));
  const std::string clean_key = WithoutLineBreaks(Trim(key));
  const std::string clean_value = WithoutLineBreaks(value);
  const std::optional<std::size_t> header = FindSection(clean_section);
  if (!header) {
    lines_.push_back("[" + clean_section + "]");
    lines_.push_back(clean_key + "=" + clean_value);
    return;
  }
  if (const std::optional<KeyLine> found = FindKey(*header, clean_key)) {
    lines_[found->line] = std::string(found->key) + "=" + clean_value;
    return;
  }
  // After the section's last key line, so blank lines and comments before the next
  // section stay with that section.
  std::size_t insert_at = *header + 1;
  for (std::size_t i = *header + 1; i < lines_.size() && !HeaderName(lines_[i]); ++i) {
    const std::string_view trimmed = Trim(lines_[i]);
    if (!IsComment(trimmed) && trimmed.find('=') != std::string_view::npos) insert_at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at),
                clean_key + "=" + clean_value);
}

std::string IniFile::ToText() const {
  std::string text;
  // Bytes at the start that read as a byte-order mark would change how the text is read
  // back; a UTF-8 mark in front keeps them as they are.
  if (!lines_.empty()) {
    const std::string_view first = lines_.front();
    if (first.starts_with("\xFF\xFE") || first.starts_with("\xFE\xFF") ||
        first.starts_with("\xEF\xBB\xBF")) {
      text = "\xEF\xBB\xBF";
    }
  }
  for (const std::string& line : lines_) {
    text += line;
    text += line_break_;
  }
  return text;
}

bool IniFile::Save(const std::filesystem::path& path, std::string* error) const {
  AtomicFile file;
  return file.Open(path, error) && file.Write(ToText(), error) && file.Commit(error);
}

}  // namespace ostrel
