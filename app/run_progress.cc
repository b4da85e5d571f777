#include "app/run_progress.h"

#include <utility>

namespace ostrel {

ProgressSink::ProgressSink(QObject* receiver, FileCallback file_started, FileCallback file_finished)
    : receiver_(receiver),
      file_started_(std::move(file_started)),
      file_finished_(std::move(file_finished)) {}

void ProgressSink::FileStarted(std::size_t index, std::size_t /*count*/,
                               const std::filesystem::path& /*path*/) {
  current_file_ = index;
  QMetaObject::invokeMethod(
      receiver_, [callback = file_started_, index] { callback(index); }, Qt::QueuedConnection);
}

void ProgressSink::LineProgress(std::uint64_t line_number, std::uint64_t line_total,
                                std::uint64_t hit_count) {
  const std::lock_guard lock(mutex_);
  latest_.any = true;
  latest_.file_index = current_file_;
  latest_.line_number = line_number;
  latest_.line_total = line_total;
  latest_.hit_count = hit_count;
  ++latest_.sequence;
}

void ProgressSink::FileFinished(std::size_t index) {
  QMetaObject::invokeMethod(
      receiver_, [callback = file_finished_, index] { callback(index); }, Qt::QueuedConnection);
}

ProgressSnapshot ProgressSink::Snapshot() const {
  const std::lock_guard lock(mutex_);
  return latest_;
}

}  // namespace ostrel
