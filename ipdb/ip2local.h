#pragma once

#include <string>
#include <string_view>

#include "ipdb/qqwry.h"

namespace ostrel {

// The database vendor's placeholder that QQWry.dat puts into record texts.
inline constexpr std::string_view kVendorPlaceholder = "CZ88.NET";

// The location text (UTF-8) of the client address text `ip_name`, looked up in `reader`.
// Never fails; every outcome is a text: "IP格式不对" for a malformed address, "IP库不存在"
// for a reader without a database, "未知数据" when the record gives the empty text,
// otherwise the record's text with every kVendorPlaceholder removed (nothing trimmed, so
// the result may be empty). Safe to call from many threads on one reader.
std::string IP2Local(const TQQWry& reader, std::string_view ip_name);

}  // namespace ostrel
