#include "export/jsonl_sink.h"

#include <charconv>
#include <cstdint>

namespace ostrel {

JsonLinesSink::JsonLinesSink(std::filesystem::path path, const StopWaker* waker)
    : file_(std::move(path), waker), object_(nlohmann::ordered_json::object()) {
  for (const HitField& field : kHitFields) object_[std::string(field.name)] = nullptr;
}

void JsonLinesSink::Header(std::string_view /*header*/) { file_.Writer(); }

void JsonLinesSink::Hit(const HitRecord& hit) {
  const HitFieldValues::Values& values = values_.Of(hit);
  auto member = object_.begin();
  for (std::size_t i = 0; i < kHitFields.size(); ++i, ++member) {
    if (kHitFields[i].kind == HitFieldKind::kNumber) {
      std::uint64_t number = 0;
      std::from_chars(values[i].data(), values[i].data() + values[i].size(), number);
      *member = number;
    } else {
      *member = values[i];
    }
  }
  // The values are valid UTF-8 already; replacing is only the last line of defence.
  std::string line = object_.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  line += '\n';
  file_.Writer().Append(line);
}

void JsonLinesSink::Finish(const RunSummary& /*summary*/) { file_.Close(); }

}  // namespace ostrel
