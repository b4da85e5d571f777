#pragma once

// The time of a hit, to the hour, from the time text the engine gives (for the report's
// timeline).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Hours since 1970-01-01 00:00 on the log's own clock (the offset of an NCSA time is not
// applied: the report shows the hours the log shows). Reads NCSA "01/dec/2026:10:00:39
// +0800" (month names in any case) and W3C or ISO "2026-12-01 10:00:39" (or with "T"),
// anything after the minutes ignored. Gives nullopt for any other text, an impossible
// date or time, or a year outside 1900 to 9999. Allocates nothing.
std::optional<std::int64_t> ParseHitHour(std::string_view time);

// The spans the timeline counts hits in.
enum class TimeBucket : std::uint8_t { kHour, kDay, kMonth, kYear };

// The first hour of the bucket that `hour` is in, and of the bucket after it.
std::int64_t BucketStart(std::int64_t hour, TimeBucket bucket);
std::int64_t NextBucket(std::int64_t hour, TimeBucket bucket);
// The bucket's name: "2026-12-01 10:00", "2026-12-01", "2026-12" or "2026".
std::string BucketLabel(std::int64_t hour, TimeBucket bucket);

}  // namespace ostrel
