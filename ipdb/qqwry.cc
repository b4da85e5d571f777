#include "ipdb/qqwry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <new>
#include <utility>

#include "ipdb/gbk.h"

namespace ostrel {
namespace {

// The reader's own texts, in GBK like the database texts it returns.
constexpr std::string_view kNoDatabase = "IP\xBF\xE2\xB2\xBB\xB4\xE6\xD4\xDA";  // IP库不存在
constexpr std::string_view kUnknownArea = "\xCE\xB4\xD6\xAA\xB5\xD8\xC7\xF8";   // 未知地区

constexpr uint32_t kIndexEntrySize = 7;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The bytes of a regular file no larger than 4 GiB - 1 (offsets in the format are 32-bit),
// or nothing. Pipes and devices are refused so that opening never blocks.
std::optional<FileBytes> ReadWholeFile(const std::string& file_name) {
  FileDescriptor fd(open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  FileBytes data(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t got = read(fd.get(), data.data() + done, data.size() - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;  // The file shrank since fstat: keep what is there.
    done += static_cast<size_t>(got);
  }
  data.resize(done);
  return data;
}

// Delphi-style StrToInt of one address group: leading blanks, optional sign, decimal
// or "$"/"x"/"X"/"0x"/"0X" hexadecimal, nothing after; the signed 32-bit value as bits.
std::optional<uint32_t> ParseGroup(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::string_view rest = text.substr(pos);
  size_t prefix = 0;
  if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X')) {
    prefix = 1;
  } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
    prefix = 2;
  }
  if (prefix != 0) {
    const std::string_view digits = rest.substr(prefix);
    if (digits.empty()) return std::nullopt;
    uint32_t value = 0;
    int significant = 0;
    for (const char c : digits) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return std::nullopt;
      }
      if (significant > 0 || digit != 0) ++significant;
      if (significant > 8) return std::nullopt;
      value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return negative ? 0u - value : value;
  }
  if (rest.empty()) return std::nullopt;
  uint64_t value = 0;
  const uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
  for (const char c : rest) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit) return std::nullopt;
  }
  const auto bits = static_cast<uint32_t>(value);
  return negative ? 0u - bits : bits;
}

// Parses the leading decimal number of `text` into `value`; gives the rest, or nothing.
std::optional<std::string_view> TakeNumber(std::string_view text, int max_digits, int& value) {
  int digits = 0;
  value = 0;
  while (digits < static_cast<int>(text.size()) && text[digits] >= '0' && text[digits] <= '9') {
    if (digits == max_digits) return std::nullopt;
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return text.substr(digits);
}

// "2024年01月17日IP数据" (UTF-8) → 2024-01-17. The date must stand at the start of the text
// and be followed at once by "IP数据".
std::optional<std::chrono::year_month_day> ParseReleaseDate(std::string_view text) {
  constexpr std::string_view kMarker = "IP数据";
  const size_t marker = text.find(kMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(0, marker);
  int parts[3];
  constexpr std::string_view kUnits[3] = {"年", "月", "日"};
  constexpr int kMaxDigits[3] = {4, 2, 2};
  for (int i = 0; i < 3; ++i) {
    const auto after = TakeNumber(rest, kMaxDigits[i], parts[i]);
    if (!after || !after->starts_with(kUnits[i])) return std::nullopt;
    rest = after->substr(kUnits[i].size());
  }
  if (!rest.empty()) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(parts[0]),
                                         std::chrono::month(static_cast<unsigned>(parts[1])),
                                         std::chrono::day(static_cast<unsigned>(parts[2]))};
  if (!date.ok()) return std::nullopt;
  return date;
}

}  // namespace

TQQWry::TQQWry(std::string file_name) : file_name_(std::move(file_name)) {
  try {
    auto data = ReadWholeFile(file_name_);
    if (data) Load(std::move(*data));
  } catch (const std::bad_alloc&) {
    // A file too large for memory is a reader without a database, like any other.
  }
}

TQQWry TQQWry::FromBytes(std::string_view bytes, std::string name) {
  TQQWry reader;
  reader.file_name_ = std::move(name);
  try {
    reader.Load(FileBytes(bytes.begin(), bytes.end()));
  } catch (const std::bad_alloc&) {
  }
  return reader;
}

TQQWry::TQQWry(TQQWry&& other) noexcept
    : file_name_(std::move(other.file_name_)),
      data_(std::move(other.data_)),
      file_size_(std::exchange(other.file_size_, 0)),
      record_num_(std::exchange(other.record_num_, 0)),
      first_index_offset_(std::exchange(other.first_index_offset_, 0)),
      last_index_offset_(std::exchange(other.last_index_offset_, 0)) {}

TQQWry& TQQWry::operator=(TQQWry&& other) noexcept {
  if (this != &other) {
    file_name_ = std::move(other.file_name_);
    data_ = std::move(other.data_);
    other.data_.clear();
    file_size_ = std::exchange(other.file_size_, 0);
    record_num_ = std::exchange(other.record_num_, 0);
    first_index_offset_ = std::exchange(other.first_index_offset_, 0);
    last_index_offset_ = std::exchange(other.last_index_offset_, 0);
  }
  return *this;
}

void TQQWry::Load(FileBytes data) {
  if (data.size() < 8 || data.size() > std::numeric_limits<uint32_t>::max()) return;
  data_ = std::move(data);
  const uint32_t first = *ReadU32(0);
  const uint32_t last = *ReadU32(4);
  if (last < first || uint64_t{last} + kIndexEntrySize > data_.size()) {
    data_.clear();
    data_.shrink_to_fit();
    return;
  }
  first_index_offset_ = first;
  last_index_offset_ = last;
  file_size_ = static_cast<uint32_t>(data_.size());
  record_num_ = (last - first) / kIndexEntrySize + 1;
}

std::optional<uint8_t> TQQWry::ReadByte(uint64_t offset) const {
  if (offset >= data_.size()) return std::nullopt;
  return data_[offset];
}

std::optional<uint32_t> TQQWry::ReadU24(uint64_t offset) const {
  if (offset + 3 > data_.size()) return std::nullopt;
  const unsigned char* p = data_.data() + offset;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

std::optional<uint32_t> TQQWry::ReadU32(uint64_t offset) const {
  if (offset + 4 > data_.size()) return std::nullopt;
  const unsigned char* p = data_.data() + offset;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::optional<std::string_view> TQQWry::ZeroString(uint64_t offset) const {
  if (offset >= data_.size()) return std::nullopt;
  const auto* begin = reinterpret_cast<const char*>(data_.data()) + offset;
  const std::string_view rest(begin, data_.size() - offset);
  const size_t end = rest.find('\0');
  if (end == std::string_view::npos) return std::nullopt;
  return rest.substr(0, end);
}

std::optional<std::string_view> TQQWry::Area(uint64_t offset) const {
  const auto kind = ReadByte(offset);
  if (!kind) return std::nullopt;
  if (*kind == 0x01 || *kind == 0x02) {
    const auto target = ReadU24(offset + 1);
    if (!target) return std::nullopt;
    if (*target == 0) return kUnknownArea;
    // The byte at the target is text, never a further redirect.
    return ZeroString(*target);
  }
  return ZeroString(offset);
}

uint32_t TQQWry::StartAddress(uint32_t record_id) const {
  // The header check guarantees every index entry 1..N lies inside the file.
  return *ReadU32(uint64_t{first_index_offset_} + uint64_t{record_id - 1} * kIndexEntrySize);
}

std::optional<uint32_t> TQQWry::GetIPValue(std::string_view ip) {
  std::string_view groups[4];
  std::string_view rest = ip;
  for (int i = 0; i < 4; ++i) {
    const size_t dot = rest.find('.');
    if (dot == std::string_view::npos) {
      // The last piece: enough only when it is the fourth.
      if (i != 3) return std::nullopt;
      groups[i] = rest;
    } else {
      groups[i] = rest.substr(0, dot);
      rest = rest.substr(dot + 1);
    }
  }
  uint32_t value = 0;
  for (const std::string_view group : groups) {
    const auto part = ParseGroup(group);
    if (!part) return std::nullopt;
    value = (value << 8) + *part;  // Wraps modulo 2^32, as the sum of shifted groups does.
  }
  return value;
}

std::optional<uint32_t> TQQWry::GetIPRecordID(std::string_view ip) const {
  const auto value = GetIPValue(ip);
  if (!value) return std::nullopt;
  // A loop of binary-search steps: the range shrinks on every step, so even an index
  // that does not ascend ends the search.
  uint32_t lo = 1;
  uint32_t hi = record_num_;
  while (lo <= hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    const uint32_t start = StartAddress(mid);
    const bool below_next = mid == record_num_ || *value < StartAddress(mid + 1);
    if (start <= *value && below_next) return mid;
    if (*value > start) {
      lo = mid + 1;
    } else if (*value < start) {
      if (mid == 1) break;
      hi = mid - 1;
    } else {
      break;  // Equal to this start, but the next start does not lie above it.
    }
  }
  return 0;
}

std::string TQQWry::GetIPMsg(uint32_t record_id) const {
  if (!HasDatabase()) return std::string(kNoDatabase);
  if (record_id == 0 || record_id > record_num_) return {};
  const auto offset =
      ReadU24(uint64_t{first_index_offset_} + uint64_t{record_id - 1} * kIndexEntrySize + 4);
  if (!offset) return {};
  return GetIPLocation(*offset);
}

std::optional<TQQWry::Location> TQQWry::ReadLocation(uint32_t record_offset) const {
  const uint64_t data = uint64_t{record_offset} + 4;
  const auto kind = ReadByte(data);
  if (!kind) return std::nullopt;
  std::optional<std::string_view> country;
  std::optional<std::string_view> area;
  if (*kind == 0x01) {
    const auto block = ReadU24(data + 1);
    if (!block) return std::nullopt;
    if (ReadByte(*block) == 0x02) {
      const auto target = ReadU24(uint64_t{*block} + 1);
      if (!target) return std::nullopt;
      country = ZeroString(*target);
      area = Area(uint64_t{*block} + 4);
    } else {
      country = ZeroString(*block);
      if (country) area = Area(uint64_t{*block} + country->size() + 1);
    }
  } else if (*kind == 0x02) {
    const auto target = ReadU24(data + 1);
    if (!target) return std::nullopt;
    country = ZeroString(*target);
    area = Area(uint64_t{record_offset} + 8);
  } else {
    country = ZeroString(data);
    if (country) area = Area(data + country->size() + 1);
  }
  if (!country || !area) return std::nullopt;
  return Location{*country, *area};
}

std::string TQQWry::GetIPLocation(uint32_t record_offset) const {
  const auto location = ReadLocation(record_offset);
  if (!location) return {};
  std::string text;
  text.reserve(location->country.size() + 1 + location->area.size());
  text.append(location->country);
  if (!location->country.empty() && !location->area.empty()) text.push_back(' ');
  text.append(location->area);
  return text;
}

std::optional<std::chrono::year_month_day> TQQWry::GetQQWryDate() const {
  if (!HasDatabase()) return std::nullopt;
  const auto offset =
      ReadU24(uint64_t{first_index_offset_} + uint64_t{record_num_ - 1} * kIndexEntrySize + 4);
  if (!offset) return std::nullopt;
  const auto location = ReadLocation(*offset);
  if (!location) return std::nullopt;
  // Either text of the last record may carry the date; the real file uses the area.
  for (const std::string_view text : {location->area, location->country}) {
    if (auto date = ParseReleaseDate(GbkToUtf8(text))) return date;
  }
  return std::nullopt;
}

}  // namespace ostrel
