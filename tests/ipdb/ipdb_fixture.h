#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ipdb/gbk.h"
#include "ipdb/qqwry.h"
#include "tools/qqwry_builder/qqwry_builder.h"

namespace ostrel::testing {

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The QQWry.dat bytes described by tests/data/ipdb/<name>.txt.
inline std::string FixtureBytes(const std::string& name) {
  const std::string text = ReadFileBytes(std::string(OSTREL_TEST_DATA) + "/ipdb/" + name + ".txt");
  return BuildQQWry(ParseQQWryDescription(text));
}

inline TQQWry FixtureReader(const std::string& name) {
  return TQQWry::FromBytes(FixtureBytes(name), name);
}

inline QQWryEntry Entry(uint32_t start, CountryForm country_form, std::string_view country,
                        AreaForm area_form, std::string_view area) {
  return {start, country_form, Utf8ToGbk(country), area_form, Utf8ToGbk(area)};
}

// The location text of `address` in UTF-8, as the reader stores it (no cleaning).
inline std::string LocationOf(const TQQWry& reader, std::string_view address) {
  const auto id = reader.GetIPRecordID(address);
  return id ? GbkToUtf8(reader.GetIPMsg(*id)) : "<malformed>";
}

inline uint32_t ReadLe(std::string_view bytes, size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
  }
  return value;
}

inline void WriteLe(std::string& bytes, size_t offset, int size, uint32_t value) {
  for (int i = 0; i < size; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}

// File offset of the index entry of record `id` (1-based) in built bytes.
inline size_t IndexEntry(std::string_view bytes, uint32_t id) {
  return ReadLe(bytes, 0, 4) + size_t{id - 1} * 7;
}

// The real database, when it was fetched: beside the test build's programs or in .cache/.
inline std::optional<std::filesystem::path> RealDatabasePath() {
  for (const std::filesystem::path& path :
       {std::filesystem::path(OSTREL_BINARY_DIR) / "bin" / "QQWry.dat",
        std::filesystem::path(OSTREL_SOURCE_DIR) / ".cache" / "QQWry.dat"}) {
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) return path;
  }
  return std::nullopt;
}

}  // namespace ostrel::testing
