#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include <QObject>

#include "engine/run.h"

namespace ostrel {

// The latest line progress of a run, as one consistent set.
struct ProgressSnapshot {
  bool any = false;            // a line has been reported
  std::size_t file_index = 0;  // 0-based input index of that line's file
  std::uint64_t line_number = 0;
  std::uint64_t line_total = 0;
  std::uint64_t hit_count = 0;
  std::uint64_t sequence = 0;  // grows with every report, to tell a new one from an old one
};

// The sink of a run on a worker thread. Line progress is only stored (the window reads it
// with Snapshot() at its own pace, so a fast run cannot flood the event queue); the start
// and end of each file are posted to `receiver`'s thread as queued calls, in order. The
// receiver must outlive the run (the window joins its worker before it is destroyed);
// calls still queued when it is destroyed are dropped by Qt.
class ProgressSink : public RunSink {
 public:
  using FileCallback = std::function<void(std::size_t index)>;

  // `file_started` and `file_finished` run on `receiver`'s thread.
  ProgressSink(QObject* receiver, FileCallback file_started, FileCallback file_finished);

  void FileStarted(std::size_t index, std::size_t count,
                   const std::filesystem::path& path) override;
  void LineProgress(std::uint64_t line_number, std::uint64_t line_total,
                    std::uint64_t hit_count) override;
  void FileFinished(std::size_t index) override;

  // The latest progress; safe from any thread.
  ProgressSnapshot Snapshot() const;

 private:
  QObject* receiver_;
  FileCallback file_started_;
  FileCallback file_finished_;
  mutable std::mutex mutex_;
  ProgressSnapshot latest_;       // guarded by mutex_
  std::size_t current_file_ = 0;  // written and read by the run's thread only
};

}  // namespace ostrel
