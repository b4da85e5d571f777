#include "engine/ip_locator.h"

#include <algorithm>
#include <utility>

#include "ipdb/ip2local.h"
#include "ipdb/qqwry.h"

namespace ostrel {
namespace {

// Put after an address whose location text is empty.
constexpr std::string_view kIntranetText = "内网";

// A database's text with every control character (CR and LF among them) made U+FFFD, so a
// hostile database cannot break a result line apart.
std::string ReplaceControls(std::string text) {
  const auto control = [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < 0x20 || code == 0x7F;
  };
  if (std::none_of(text.begin(), text.end(), control)) return text;
  std::string clean;
  clean.reserve(text.size() + 8);
  for (const char c : text) {
    if (control(c)) {
      clean += "\xEF\xBF\xBD";
    } else {
      clean += c;
    }
  }
  return clean;
}

}  // namespace

IpLocator::IpLocator(const TQQWry& reader, std::size_t max_entries)
    : IpLocator([&reader](std::string_view address) { return IP2Local(reader, address); },
                max_entries) {}

IpLocator::IpLocator(Lookup lookup, std::size_t max_entries)
    : lookup_(std::move(lookup)), max_entries_(std::max<std::size_t>(max_entries, 1)) {}

std::string_view IpLocator::Locate(std::string_view address_text) {
  if (const auto found = cache_.find(address_text); found != cache_.end()) {
    return found->second;
  }
  std::string location = ReplaceControls(lookup_(address_text));
  std::erase(location, ' ');
  // Tested after the spaces are gone: a text of blanks alone would otherwise insert
  // nothing and shift the columns of the output line.
  if (location.empty()) location = kIntranetText;
  // Dropping everything is crude but bounded and cheap; addresses of one busy client stay
  // hot and come back on the next miss.
  if (cache_.size() >= max_entries_) cache_.clear();
  return cache_.emplace(std::string(address_text), std::move(location)).first->second;
}

}  // namespace ostrel
