#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "engine/hit_sink.h"
#include "export/hit_fields.h"
#include "export/output_file.h"

namespace ostrel {

// JSON Lines: one object per hit with the fields of kHitFields in that order (numbers as
// JSON numbers, everything else as strings; an empty field is ""), each line ended by LF,
// UTF-8. A run without hits leaves an empty file.
class JsonLinesSink : public HitSink {
 public:
  // Writes to `path` ("-": standard output) once the run begins; touches nothing before.
  // `waker` (may be null) ends a wait for a FIFO's reader or a full pipe, as OutputFile.
  explicit JsonLinesSink(std::filesystem::path path, const StopWaker* waker = nullptr);

  void Header(std::string_view header) override;
  // Throws ResultWriteError when the line cannot be written.
  void Hit(const HitRecord& hit) override;
  // Flushes and closes. Throws ResultWriteError.
  void Finish(const RunSummary& summary) override;
  std::string OutputName() const override { return file_.Name(); }

 private:
  OutputFile file_;
  HitFieldValues values_;
  nlohmann::ordered_json object_;  // the keys in order, reused for every hit
};

}  // namespace ostrel
