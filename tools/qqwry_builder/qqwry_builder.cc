#include "tools/qqwry_builder/qqwry_builder.h"

#include <map>
#include <optional>
#include <tuple>
#include <utility>

#include "ipdb/gbk.h"
#include "ipdb/qqwry.h"

namespace ostrel {
namespace {

constexpr uint32_t kMaxOffset = 0xFFFFFF;

struct Token {
  std::string text;
  bool quoted = false;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// UTF-8 `chunk` as GBK; refuses characters GBK cannot hold instead of storing '?'.
std::string ChunkToGbk(const std::string& chunk, int line) {
  if (!IsValidUtf8(chunk)) throw QQWryDescriptionError(line, "text is not valid UTF-8");
  std::string gbk = Utf8ToGbk(chunk);
  if (GbkToUtf8(gbk) != chunk) {
    throw QQWryDescriptionError(line, "text holds a character GBK cannot store");
  }
  return gbk;
}

// Splits one line into bare words and quoted texts (converted to GBK); '#' outside a
// quoted text starts a comment.
std::vector<Token> Tokenize(std::string_view line, int line_number) {
  std::vector<Token> tokens;
  size_t pos = 0;
  while (pos < line.size()) {
    const char c = line[pos];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++pos;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      ++pos;
      std::string gbk;
      std::string chunk;
      bool closed = false;
      while (pos < line.size()) {
        const char d = line[pos++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          chunk.push_back(d);
          continue;
        }
        if (pos >= line.size()) break;
        const char e = line[pos++];
        if (e == '\\' || e == '"') {
          chunk.push_back(e);
        } else if (e == 'x' && pos + 2 <= line.size() && HexDigit(line[pos]) >= 0 &&
                   HexDigit(line[pos + 1]) >= 0) {
          gbk += ChunkToGbk(chunk, line_number);
          chunk.clear();
          const int byte = HexDigit(line[pos]) * 16 + HexDigit(line[pos + 1]);
          if (byte == 0) throw QQWryDescriptionError(line_number, "\\x00 cannot be stored");
          gbk.push_back(static_cast<char>(byte));
          pos += 2;
        } else {
          throw QQWryDescriptionError(line_number, "unknown escape in text");
        }
      }
      if (!closed) throw QQWryDescriptionError(line_number, "text without closing quote");
      gbk += ChunkToGbk(chunk, line_number);
      tokens.push_back({std::move(gbk), true});
    } else {
      const size_t end = line.find_first_of(" \t\r#\"", pos);
      const size_t stop = end == std::string_view::npos ? line.size() : end;
      tokens.push_back({std::string(line.substr(pos, stop - pos)), false});
      pos = stop;
    }
  }
  return tokens;
}

std::optional<CountryForm> CountryFormNamed(std::string_view name) {
  if (name == "inline") return CountryForm::kInline;
  if (name == "ref1") return CountryForm::kRef1;
  if (name == "ref1-ref2") return CountryForm::kRef1Ref2;
  if (name == "ref2") return CountryForm::kRef2;
  return std::nullopt;
}

std::optional<AreaForm> AreaFormNamed(std::string_view name) {
  if (name == "inline") return AreaForm::kInline;
  if (name == "ref1") return AreaForm::kRef1;
  if (name == "ref2") return AreaForm::kRef2;
  if (name == "unknown1") return AreaForm::kUnknown1;
  if (name == "unknown2") return AreaForm::kUnknown2;
  return std::nullopt;
}

bool StartsWithRedirect(const std::string& text) {
  return !text.empty() && (text[0] == '\x01' || text[0] == '\x02');
}

class Writer {
 public:
  std::string& bytes() { return bytes_; }

  uint32_t Offset() const {
    if (bytes_.size() > kMaxOffset) {
      throw std::invalid_argument("database too large: offset beyond 24 bits");
    }
    return static_cast<uint32_t>(bytes_.size());
  }
  void U8(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void U24(uint32_t value) {
    for (int i = 0; i < 3; ++i) U8(static_cast<uint8_t>(value >> (8 * i)));
  }
  void U32(uint32_t value) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(value >> (8 * i)));
  }
  void Text(const std::string& text) {
    bytes_ += text;
    U8(0);
  }

  // Offset of `text` stored on its own; identical texts share one copy.
  uint32_t Pooled(const std::string& text) {
    const auto found = texts_.find(text);
    if (found != texts_.end()) return found->second;
    const uint32_t offset = Offset();
    Text(text);
    texts_.emplace(text, offset);
    return offset;
  }

  // Appends the area field of `entry`; `target` is where a redirected area text lives.
  void Area(const QQWryEntry& entry, const std::optional<uint32_t>& target) {
    switch (entry.area_form) {
      case AreaForm::kInline:
        if (StartsWithRedirect(entry.area)) {
          throw std::invalid_argument("an inline area text cannot start with 0x01 or 0x02");
        }
        Text(entry.area);
        break;
      case AreaForm::kRef1:
      case AreaForm::kRef2:
        U8(entry.area_form == AreaForm::kRef1 ? 0x01 : 0x02);
        U24(*target);
        break;
      case AreaForm::kUnknown1:
      case AreaForm::kUnknown2:
        U8(entry.area_form == AreaForm::kUnknown1 ? 0x01 : 0x02);
        U24(0);
        break;
    }
  }

  // Where a redirected area's text lives (pooled now, before the field is written).
  std::optional<uint32_t> AreaTarget(const QQWryEntry& entry) {
    if (entry.area_form == AreaForm::kRef1 || entry.area_form == AreaForm::kRef2) {
      return Pooled(entry.area);
    }
    return std::nullopt;
  }

  // Offset of the shared block that a 0x01 record points at; identical blocks share.
  uint32_t Block(const QQWryEntry& entry) {
    const auto key =
        std::make_tuple(entry.country_form, entry.country, entry.area_form, entry.area);
    const auto found = blocks_.find(key);
    if (found != blocks_.end()) return found->second;
    const auto area_target = AreaTarget(entry);
    std::optional<uint32_t> country_target;
    if (entry.country_form == CountryForm::kRef1Ref2) country_target = Pooled(entry.country);
    const uint32_t offset = Offset();
    if (country_target) {
      U8(0x02);
      U24(*country_target);
    } else {
      if (!entry.country.empty() && entry.country[0] == '\x02') {
        throw std::invalid_argument("a ref1 country text cannot start with 0x02");
      }
      Text(entry.country);
    }
    Area(entry, area_target);
    blocks_.emplace(key, offset);
    return offset;
  }

 private:
  std::string bytes_;
  std::map<std::string, uint32_t> texts_;
  std::map<std::tuple<CountryForm, std::string, AreaForm, std::string>, uint32_t> blocks_;
};

}  // namespace

std::vector<QQWryEntry> ParseQQWryDescription(std::string_view text) {
  std::vector<QQWryEntry> entries;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    const std::vector<Token> tokens = Tokenize(line, line_number);
    if (tokens.empty()) continue;
    const auto fail = [&](const std::string& message) {
      throw QQWryDescriptionError(line_number, message);
    };
    if (tokens.size() < 4) fail(R"(expected: START COUNTRY-FORM "COUNTRY" AREA-FORM ["AREA"])");
    QQWryEntry entry;
    const auto start = tokens[0].quoted ? std::nullopt : TQQWry::GetIPValue(tokens[0].text);
    if (!start) fail("bad start address '" + tokens[0].text + "'");
    entry.start = *start;
    const auto country_form = tokens[1].quoted ? std::nullopt : CountryFormNamed(tokens[1].text);
    if (!country_form) fail("unknown country form '" + tokens[1].text + "'");
    entry.country_form = *country_form;
    if (!tokens[2].quoted) fail("the country text must be quoted");
    entry.country = tokens[2].text;
    const auto area_form = tokens[3].quoted ? std::nullopt : AreaFormNamed(tokens[3].text);
    if (!area_form) fail("unknown area form '" + tokens[3].text + "'");
    entry.area_form = *area_form;
    const bool unknown =
        entry.area_form == AreaForm::kUnknown1 || entry.area_form == AreaForm::kUnknown2;
    const size_t expected = unknown ? 4 : 5;
    if (tokens.size() != expected) {
      fail(unknown ? "an unknown area takes no text" : "expected one quoted area text");
    }
    if (!unknown) {
      if (!tokens[4].quoted) fail("the area text must be quoted");
      entry.area = tokens[4].text;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string BuildQQWry(const std::vector<QQWryEntry>& entries) {
  if (entries.empty()) throw std::invalid_argument("a database needs at least one record");
  Writer out;
  out.U32(0);  // Header, patched once the index's place is known.
  out.U32(0);
  std::vector<uint32_t> record_offsets;
  for (size_t i = 0; i < entries.size(); ++i) {
    const QQWryEntry& entry = entries[i];
    const uint32_t last = i + 1 < entries.size() ? entries[i + 1].start - 1 : 0xFFFFFFFF;
    switch (entry.country_form) {
      case CountryForm::kInline: {
        const auto area_target = out.AreaTarget(entry);
        if (StartsWithRedirect(entry.country)) {
          throw std::invalid_argument("an inline country text cannot start with 0x01 or 0x02");
        }
        record_offsets.push_back(out.Offset());
        out.U32(last);
        out.Text(entry.country);
        out.Area(entry, area_target);
        break;
      }
      case CountryForm::kRef1:
      case CountryForm::kRef1Ref2: {
        const uint32_t block = out.Block(entry);
        record_offsets.push_back(out.Offset());
        out.U32(last);
        out.U8(0x01);
        out.U24(block);
        break;
      }
      case CountryForm::kRef2: {
        const uint32_t country = out.Pooled(entry.country);
        const auto area_target = out.AreaTarget(entry);
        record_offsets.push_back(out.Offset());
        out.U32(last);
        out.U8(0x02);
        out.U24(country);
        out.Area(entry, area_target);
        break;
      }
    }
  }
  const auto first_index = static_cast<uint32_t>(out.bytes().size());
  for (size_t i = 0; i < entries.size(); ++i) {
    out.U32(entries[i].start);
    out.U24(record_offsets[i]);
  }
  const uint64_t last_index = first_index + uint64_t{7} * (entries.size() - 1);
  if (last_index > 0xFFFFFFFF) throw std::invalid_argument("too many records");
  std::string& bytes = out.bytes();
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>(first_index >> (8 * i));
    bytes[4 + i] = static_cast<char>(static_cast<uint32_t>(last_index) >> (8 * i));
  }
  return std::move(bytes);
}

}  // namespace ostrel
