#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ostrel {

class TQQWry;

// The location text put after a client address in the output line, with a cache keyed by
// the address text in front of the IP database lookup. One per worker thread: it is not
// thread-safe. Its answers are the same as looking every line up afresh.
class IpLocator {
 public:
  // Answers like IP2Local: the location text in UTF-8 for an address text, possibly empty.
  using Lookup = std::function<std::string(std::string_view address_text)>;

  // The cache is cleared when it would grow past this many addresses, so a log of millions
  // of distinct addresses keeps memory bounded (about 10 MB per locator at this size).
  static constexpr std::size_t kDefaultMaxEntries = std::size_t{1} << 16;

  // Looks addresses up with IP2Local in `reader`, which must outlive the locator.
  explicit IpLocator(const TQQWry& reader, std::size_t max_entries = kDefaultMaxEntries);
  // Looks addresses up with `lookup` (tests, other sources).
  explicit IpLocator(Lookup lookup, std::size_t max_entries = kDefaultMaxEntries);

  // The text to insert after `address_text`: the lookup's answer with every control
  // character made U+FFFD and every space (code 32) removed, or "内网" when the answer is
  // empty. Never fails. Allocates only on a cache
  // miss. The view stays valid until the next call of Locate or the locator's destruction.
  std::string_view Locate(std::string_view address_text);

  // How many addresses the cache holds now.
  std::size_t CachedCount() const { return cache_.size(); }

 private:
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
      return std::hash<std::string_view>{}(text);
    }
  };

  Lookup lookup_;
  std::size_t max_entries_;
  std::unordered_map<std::string, std::string, TextHash, std::equal_to<>> cache_;
};

}  // namespace ostrel
