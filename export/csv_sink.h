#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/hit_sink.h"
#include "export/hit_fields.h"
#include "export/output_file.h"

namespace ostrel {

// Appends `value` to `out` as one CSV field (RFC 4180): as it is, or in double quotes with
// every quote doubled when it holds a quote, a comma, CR or LF (or begins or ends with a
// blank, which some readers would trim).
void AppendCsvField(std::string_view value, std::string& out);

// CSV by RFC 4180: a header row of the kHitFields names, then one row per hit, fields in
// that order, rows ended by CR LF, UTF-8 without a byte-order mark. A run without hits
// leaves the header row alone.
class CsvSink : public HitSink {
 public:
  // Writes to `path` ("-": standard output) once the run begins; touches nothing before.
  // `waker` (may be null) ends a wait for a FIFO's reader or a full pipe, as OutputFile.
  explicit CsvSink(std::filesystem::path path, const StopWaker* waker = nullptr);

  void Header(std::string_view header) override;
  // Throws ResultWriteError when the row cannot be written.
  void Hit(const HitRecord& hit) override;
  // Flushes and closes (writing the header row if the run gave none). Throws
  // ResultWriteError.
  void Finish(const RunSummary& summary) override;
  std::string OutputName() const override { return file_.Name(); }

 private:
  ResultWriter& Open();

  OutputFile file_;
  HitFieldValues values_;
  std::string row_;
};

}  // namespace ostrel
