#include "ipdb/ip2local.h"

#include <algorithm>

#include "ipdb/gbk.h"

namespace ostrel {

std::string IP2Local(const TQQWry& reader, std::string_view ip_name) {
  const auto record_id = reader.GetIPRecordID(ip_name);
  if (!record_id) return "IP格式不对";
  const std::string location = reader.GetIPMsg(*record_id);
  if (location.empty()) return "未知数据";
  // Removal works on decoded text: in UTF-8 an ASCII byte is always a whole character,
  // so the trail byte of a GBK double-byte character can never start a match.
  std::string text = GbkToUtf8(location);
  size_t from = 0;
  for (;;) {
    const size_t found = text.find(kVendorPlaceholder, from);
    if (found == std::string::npos) break;
    text.erase(found, kVendorPlaceholder.size());
    // A removal can only join a new occurrence across the cut; none starts before it.
    from = found - std::min(found, kVendorPlaceholder.size() - 1);
  }
  return text;
}

}  // namespace ostrel
