#include "ipdb/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace ostrel {
namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD

// One iconv conversion descriptor, owned by the call that opened it, so no conversion
// state is ever shared between threads.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open reports failure as (iconv_t)-1.
    return cd_ != reinterpret_cast<iconv_t>(-1);
  }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

bool IsAscii(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, text.data() + i, 8);
    if (chunk & 0x8080808080808080ULL) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) & 0x80) return false;
  }
  return true;
}

// Length of the well-formed UTF-8 sequence starting at `pos`, or 0 when the bytes there
// are not one (overlong, surrogate, above U+10FFFF, stray continuation, truncated).
size_t Utf8SequenceLength(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const size_t left = text.size() - pos;
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    return left >= 2 && (byte(1) & 0xC0) == 0x80 ? 2 : 0;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left < 3) return 0;
    const unsigned char b1 = byte(1);
    // E0 needs A0..BF (no overlongs); ED needs 80..9F (no surrogates).
    const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
    if (b1 < lo || b1 > hi || (byte(2) & 0xC0) != 0x80) return 0;
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left < 4) return 0;
    const unsigned char b1 = byte(1);
    // F0 needs 90..BF (no overlongs); F4 needs 80..8F (nothing above U+10FFFF).
    const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
    if (b1 < lo || b1 > hi || (byte(2) & 0xC0) != 0x80 || (byte(3) & 0xC0) != 0x80) return 0;
    return 4;
  }
  return 0;
}

// Runs `input` through `cd`. At a position iconv refuses, `on_error(pos)` appends the
// replacement to `out` and returns how many input bytes to skip (at least 1).
template <typename OnError>
void Convert(iconv_t cd, std::string_view input, size_t out_capacity, std::string& out,
             OnError on_error) {
  std::string buffer(out_capacity, '\0');
  size_t pos = 0;
  while (pos < input.size()) {
    // iconv's interface takes a non-const input pointer but never writes through it.
    char* in_ptr = const_cast<char*>(input.data() + pos);
    size_t in_left = input.size() - pos;
    char* out_ptr = buffer.data();
    size_t out_left = buffer.size();
    const size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    const int error = errno;
    out.append(buffer.data(), buffer.size() - out_left);
    pos = input.size() - in_left;
    if (result != static_cast<size_t>(-1)) break;
    if (error == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut off at the end): replace and resume after it.
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    pos += on_error(pos);
  }
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  out.reserve(gbk.size() * 3 / 2 + 4);
  Iconv cd("UTF-8", "GB18030");
  if (!cd.ok()) {
    // Without the converter, keep what is certain: ASCII stays, the rest is unknown.
    for (const char c : gbk) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out.push_back(c);
      } else {
        out.append(kReplacementUtf8);
      }
    }
    return out;
  }
  // One GB18030 byte never grows beyond three UTF-8 bytes, so this usually suffices.
  Convert(cd.get(), gbk, gbk.size() * 3 + 4, out, [&](size_t) {
    out.append(kReplacementUtf8);
    return size_t{1};
  });
  return out;
}

bool IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (pos + 8 <= text.size()) {
      uint64_t chunk;
      std::memcpy(&chunk, text.data() + pos, 8);
      if ((chunk & 0x8080808080808080ULL) == 0) {
        pos += 8;
        continue;
      }
    }
    const size_t length = Utf8SequenceLength(text, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  Iconv cd("GBK", "UTF-8");
  const auto replace = [&](size_t pos) {
    out.push_back('?');
    const size_t length = Utf8SequenceLength(utf8, pos);
    return length == 0 ? size_t{1} : length;
  };
  if (!cd.ok()) {
    size_t pos = 0;
    while (pos < utf8.size()) {
      if (static_cast<unsigned char>(utf8[pos]) < 0x80) {
        out.push_back(utf8[pos++]);
      } else {
        pos += replace(pos);
      }
    }
    return out;
  }
  // GBK never needs more bytes than UTF-8 for the same character.
  Convert(cd.get(), utf8, utf8.size() + 4, out, replace);
  return out;
}

}  // namespace ostrel
