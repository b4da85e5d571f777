#include "export/csv_sink.h"

namespace ostrel {

void AppendCsvField(std::string_view value, std::string& out) {
  const bool quote = value.find_first_of("\",\r\n") != std::string_view::npos ||
                     (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!quote) {
    out += value;
    return;
  }
  out += '"';
  for (const char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

CsvSink::CsvSink(std::filesystem::path path, const StopWaker* waker)
    : file_(std::move(path), waker) {}

ResultWriter& CsvSink::Open() {
  if (file_.opened()) return file_.Writer();
  ResultWriter& writer = file_.Writer();
  row_.clear();
  for (const HitField& field : kHitFields) {
    if (!row_.empty()) row_ += ',';
    AppendCsvField(field.name, row_);
  }
  row_ += "\r\n";
  writer.Append(row_);
  return writer;
}

void CsvSink::Header(std::string_view /*header*/) { Open(); }

void CsvSink::Hit(const HitRecord& hit) {
  ResultWriter& writer = Open();
  const HitFieldValues::Values& values = values_.Of(hit);
  row_.clear();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) row_ += ',';
    AppendCsvField(values[i], row_);
  }
  row_ += "\r\n";
  writer.Append(row_);
}

void CsvSink::Finish(const RunSummary& /*summary*/) {
  Open();
  file_.Close();
}

}  // namespace ostrel
