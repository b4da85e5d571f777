#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/hit_sink.h"

namespace ostrel {

// How much a collector keeps. The defaults hold a report of millions of hits in tens of
// megabytes at most; tests lower them.
struct ReportLimits {
  std::size_t max_addresses = 100000;  // distinct client addresses counted
  std::size_t max_locations = 20000;
  std::size_t max_paths = 50000;
  std::size_t max_statuses = 1000;
  std::size_t max_hours = 100000;  // distinct hours of the timeline (eleven years)
  std::size_t first_hits = 1000;   // hits kept whole for the report's table
};

// Counts per key with a cap on the keys: once `max_keys` are counted, a new key counts
// under others(). Keys are cut at a character boundary to `max_key_bytes`.
class CappedCounter {
 public:
  struct Entry {
    std::uint64_t count = 0;
    std::string note;  // what the caller keeps with the key (an address's location)
  };
  using Row = std::pair<std::string_view, const Entry*>;

  CappedCounter(std::size_t max_keys, std::size_t max_key_bytes)
      : max_keys_(max_keys), max_key_bytes_(max_key_bytes) {}

  // Counts one for `key`; gives its entry, or nullptr when it counted under others().
  Entry* Add(std::string_view key);
  // The `n` keys with the highest counts, highest first (ties by key).
  std::vector<Row> Top(std::size_t n) const;
  std::uint64_t total() const { return total_; }
  std::uint64_t others() const { return others_; }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  std::size_t max_keys_;
  std::size_t max_key_bytes_;
  std::unordered_map<std::string, Entry, Hash, std::equal_to<>> entries_;
  std::uint64_t total_ = 0;
  std::uint64_t others_ = 0;
};

// A hit as the report's table shows it; texts cut to a few hundred bytes.
struct ReportHit {
  std::size_t file_index = 0;
  std::uint64_t line_number = 0;
  std::size_t slot = 0;
  std::string time;
  std::string client;
  std::string location;
  std::string status;
  std::string request;  // the subject, and subject_b after a blank when there is one
};

// The path a request targets: the request target without its query or fragment
// ("get /a/b.php?x=1 http/1.1" gives "/a/b.php"; a subject that begins with the target,
// as "/a?x", too). Empty when the subject holds no target (log type iis: only the method).
std::string_view RequestPath(std::string_view subject);

// Keeps what the HTML report shows of a run's hits: counts by rule slot, client address
// (with its location), location, targeted path, status and hour, and the first hits
// whole. Memory stays bounded however many hits arrive (ReportLimits). The window keeps
// one during its run; RenderHtmlReport turns it into the report.
class ReportCollector : public HitSink {
 public:
  explicit ReportCollector(const ReportLimits& limits = {});

  void Hit(const HitRecord& hit) override;

  std::uint64_t hits() const { return hits_; }
  // Hits per 0-based slot; the last element counts slots beyond kMaxSlots.
  const std::vector<std::uint64_t>& by_slot() const { return by_slot_; }
  const CappedCounter& addresses() const { return addresses_; }
  const CappedCounter& locations() const { return locations_; }
  const CappedCounter& paths() const { return paths_; }
  const CappedCounter& statuses() const { return statuses_; }
  // Hits per hour (ParseHitHour), and those whose time text could not be read.
  const std::map<std::int64_t, std::uint64_t>& by_hour() const { return by_hour_; }
  std::uint64_t untimed() const { return untimed_; }
  // Timed hits not counted by hour because max_hours hours were.
  std::uint64_t hours_over() const { return hours_over_; }
  std::uint64_t without_path() const { return without_path_; }
  const std::vector<ReportHit>& first_hits() const { return first_hits_; }

  static constexpr std::size_t kMaxSlots = 64;

 private:
  ReportLimits limits_;
  std::uint64_t hits_ = 0;
  std::vector<std::uint64_t> by_slot_;
  CappedCounter addresses_;
  CappedCounter locations_;
  CappedCounter paths_;
  CappedCounter statuses_;
  std::map<std::int64_t, std::uint64_t> by_hour_;
  std::uint64_t untimed_ = 0;
  std::uint64_t hours_over_ = 0;
  std::uint64_t without_path_ = 0;
  std::vector<ReportHit> first_hits_;
};

}  // namespace ostrel
