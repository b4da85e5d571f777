#include "export/hit_time.h"

#include <array>
#include <cstdio>

namespace ostrel {
namespace {

struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int64_t>(era) * 146097 + day_of_era - 719468;
}

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int day_of_era = static_cast<int>(days - era * 146097);
  const int year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int mp = (5 * day_of_year + 2) / 153;
  CivilDate date;
  date.day = day_of_year - (153 * mp + 2) / 5 + 1;
  date.month = mp < 10 ? mp + 3 : mp - 9;
  date.year = static_cast<int>(year_of_era + era * 400) + (date.month <= 2 ? 1 : 0);
  return date;
}

// Reads exactly `width` digits at `at`.
bool Digits(std::string_view text, std::size_t at, std::size_t width, int& value) {
  if (at + width > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

int MonthOfName(std::string_view name) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
  if (name.size() != 3) return 0;
  std::array<char, 3> lower{};
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = name[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (std::string_view(lower.data(), 3) == kNames[i]) return static_cast<int>(i) + 1;
  }
  return 0;
}

std::optional<std::int64_t> HourOf(int year, int month, int day, int hour, int minute) {
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 24 + hour;
}

std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
  return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

}  // namespace

std::optional<std::int64_t> ParseHitHour(std::string_view time) {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  // NCSA: dd/mon/yyyy:hh:mm
  if (time.size() >= 17 && time[2] == '/' && time[6] == '/' && time[11] == ':' && time[14] == ':') {
    month = MonthOfName(time.substr(3, 3));
    if (month != 0 && Digits(time, 0, 2, day) && Digits(time, 7, 4, year) &&
        Digits(time, 12, 2, hour) && Digits(time, 15, 2, minute)) {
      return HourOf(year, month, day, hour, minute);
    }
    return std::nullopt;
  }
  // W3C and ISO: yyyy-mm-dd hh:mm
  if (time.size() >= 16 && time[4] == '-' && time[7] == '-' &&
      (time[10] == ' ' || time[10] == 'T' || time[10] == 't') && time[13] == ':') {
    if (Digits(time, 0, 4, year) && Digits(time, 5, 2, month) && Digits(time, 8, 2, day) &&
        Digits(time, 11, 2, hour) && Digits(time, 14, 2, minute)) {
      return HourOf(year, month, day, hour, minute);
    }
  }
  return std::nullopt;
}

std::int64_t BucketStart(std::int64_t hour, TimeBucket bucket) {
  const std::int64_t day = FloorDiv(hour, 24);
  switch (bucket) {
    case TimeBucket::kHour:
      return hour;
    case TimeBucket::kDay:
      return day * 24;
    case TimeBucket::kMonth:
    case TimeBucket::kYear:
      break;
  }
  const CivilDate date = CivilFromDays(day);
  return DaysFromCivil(date.year, bucket == TimeBucket::kMonth ? date.month : 1, 1) * 24;
}

std::int64_t NextBucket(std::int64_t hour, TimeBucket bucket) {
  switch (bucket) {
    case TimeBucket::kHour:
      return hour + 1;
    case TimeBucket::kDay:
      return BucketStart(hour, bucket) + 24;
    case TimeBucket::kMonth:
    case TimeBucket::kYear:
      break;
  }
  const CivilDate date = CivilFromDays(FloorDiv(hour, 24));
  if (bucket == TimeBucket::kYear) return DaysFromCivil(date.year + 1, 1, 1) * 24;
  return (date.month == 12 ? DaysFromCivil(date.year + 1, 1, 1)
                           : DaysFromCivil(date.year, date.month + 1, 1)) *
         24;
}

std::string BucketLabel(std::int64_t hour, TimeBucket bucket) {
  const CivilDate date = CivilFromDays(FloorDiv(hour, 24));
  std::array<char, 48> text{};
  switch (bucket) {
    case TimeBucket::kHour:
      std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:00", date.year, date.month,
                    date.day, static_cast<int>(hour - FloorDiv(hour, 24) * 24));
      break;
    case TimeBucket::kDay:
      std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", date.year, date.month, date.day);
      break;
    case TimeBucket::kMonth:
      std::snprintf(text.data(), text.size(), "%04d-%02d", date.year, date.month);
      break;
    case TimeBucket::kYear:
      std::snprintf(text.data(), text.size(), "%04d", date.year);
      break;
  }
  return text.data();
}

}  // namespace ostrel
