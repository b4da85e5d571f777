#include "export/report_collector.h"

#include <algorithm>

#include "export/hit_time.h"
#include "export/html_text.h"

namespace ostrel {
namespace {

constexpr std::size_t kAddressBytes = 64;
constexpr std::size_t kLocationBytes = 160;
constexpr std::size_t kPathBytes = 256;
constexpr std::size_t kStatusBytes = 16;
constexpr std::size_t kTableTextBytes = 160;
constexpr std::size_t kTableRequestBytes = 600;

std::string_view Trim(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

CappedCounter::Entry* CappedCounter::Add(std::string_view key) {
  key = Utf8Prefix(key, max_key_bytes_);
  ++total_;
  if (const auto found = entries_.find(key); found != entries_.end()) {
    ++found->second.count;
    return &found->second;
  }
  if (entries_.size() >= max_keys_) {
    ++others_;
    return nullptr;
  }
  Entry& entry = entries_.emplace(std::string(key), Entry{}).first->second;
  entry.count = 1;
  return &entry;
}

std::vector<CappedCounter::Row> CappedCounter::Top(std::size_t n) const {
  std::vector<Row> rows;
  rows.reserve(entries_.size());
  for (const auto& [key, entry] : entries_) rows.emplace_back(key, &entry);
  const auto higher = [](const Row& a, const Row& b) {
    if (a.second->count != b.second->count) return a.second->count > b.second->count;
    return a.first < b.first;
  };
  n = std::min(n, rows.size());
  std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(n), rows.end(),
                    higher);
  rows.resize(n);
  return rows;
}

std::string_view RequestPath(std::string_view subject) {
  subject = Trim(subject);
  std::size_t begin = 0;
  if (!subject.starts_with('/') && !subject.starts_with("http://") &&
      !subject.starts_with("https://")) {
    begin = subject.find(' ');
    if (begin == std::string_view::npos) return {};
    begin = subject.find_first_not_of(' ', begin);
    if (begin == std::string_view::npos) return {};
  }
  std::string_view target = subject.substr(begin);
  target = target.substr(0, target.find_first_of(" \t?#\""));
  return target;
}

ReportCollector::ReportCollector(const ReportLimits& limits)
    : limits_(limits),
      by_slot_(kMaxSlots + 1, 0),
      addresses_(limits.max_addresses, kAddressBytes),
      locations_(limits.max_locations, kLocationBytes),
      paths_(limits.max_paths, kPathBytes),
      statuses_(limits.max_statuses, kStatusBytes) {}

void ReportCollector::Hit(const HitRecord& hit) {
  ++hits_;
  ++by_slot_[std::min(hit.slot, kMaxSlots)];
  if (CappedCounter::Entry* address = addresses_.Add(hit.client);
      address != nullptr && address->count == 1) {
    address->note = Utf8Prefix(hit.location, kLocationBytes);
  }
  locations_.Add(hit.location);
  if (const std::string_view path = RequestPath(hit.subject); !path.empty()) {
    paths_.Add(path);
  } else {
    ++without_path_;
  }
  statuses_.Add(Trim(hit.status));
  if (const std::optional<std::int64_t> hour = ParseHitHour(hit.time)) {
    if (const auto found = by_hour_.find(*hour); found != by_hour_.end()) {
      ++found->second;
    } else if (by_hour_.size() < limits_.max_hours) {
      by_hour_.emplace(*hour, 1);
    } else {
      ++hours_over_;
    }
  } else {
    ++untimed_;
  }
  if (first_hits_.size() < limits_.first_hits) {
    ReportHit& kept = first_hits_.emplace_back();
    kept.file_index = hit.file_index;
    kept.line_number = hit.line_number;
    kept.slot = hit.slot;
    kept.time = Utf8Prefix(hit.time, kTableTextBytes);
    kept.client = Utf8Prefix(hit.client, kTableTextBytes);
    kept.location = Utf8Prefix(hit.location, kTableTextBytes);
    kept.status = Utf8Prefix(hit.status, kTableTextBytes);
    kept.request = Utf8Prefix(hit.subject, kTableRequestBytes);
    if (!hit.subject_b.empty() && kept.request.size() < kTableRequestBytes) {
      kept.request += ' ';
      kept.request += Utf8Prefix(hit.subject_b, kTableRequestBytes - kept.request.size());
    }
  }
}

}  // namespace ostrel
