#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <vector>
#include "ipdb/file_bytes.h"

namespace ostrel {

// Reader of the QQWry.dat IP location database: finds the record that covers an IPv4
// address and gives that record's location text (country and area joined by one space).
//
// Texts it returns are the database's raw GBK bytes, its own fixed texts included.
// Every offset and every text is checked against the file size, so a truncated or hostile
// file can never make it read outside the file, loop or crash. A reader is immutable once
// made: all lookups are const and may run from many threads at once.
class TQQWry {
 public:
  // Reads the whole file named `file_name`. Never throws and says nothing: when the file
  // cannot be read, is not a regular file, or its header makes no sense (shorter than
  // 8 bytes, last index below the first, index past the end), the reader has no database.
  explicit TQQWry(std::string file_name);

  // Makes a reader over database bytes already in memory (tests, fuzzing). Same checks
  // and same no-database outcome as the file constructor (also when memory runs out);
  // `name` is only reported back. Never throws.
  static TQQWry FromBytes(std::string_view bytes, std::string name = {});

  // A moved-from reader is left with no database.
  TQQWry(TQQWry&& other) noexcept;
  TQQWry& operator=(TQQWry&& other) noexcept;
  TQQWry(const TQQWry&) = delete;
  TQQWry& operator=(const TQQWry&) = delete;

  // The file name given at creation.
  const std::string& GetQQWryFileName() const { return file_name_; }
  // The file's size in bytes; 0 without a database.
  uint32_t GetQQWryFileSize() const { return file_size_; }
  // The number of records N; 0 without a database.
  uint32_t GetIPRecordNum() const { return record_num_; }
  // Whether the reader holds a usable database (N >= 1).
  bool HasDatabase() const { return record_num_ != 0; }

  // The address value of a dotted text a.b.c.d: a*2^24 + b*2^16 + c*2^8 + d modulo 2^32.
  // Needs at least four dot-separated groups (later ones are ignored); each of the first
  // four is a signed 32-bit integer with optional leading blanks and sign, decimal or
  // hexadecimal after "$", "x", "X", "0x", "0X". Groups are not limited to 0..255.
  // Gives nothing for any other text.
  static std::optional<uint32_t> GetIPValue(std::string_view ip);

  // The ID (1..N) of the record covering the address text `ip`: each record covers its
  // start address up to one below the next record's start, the last one everything from
  // its start up. Gives 0 for a well-formed address that no record covers (below the
  // first start, a non-ascending index, no database) and nothing for a malformed text.
  std::optional<uint32_t> GetIPRecordID(std::string_view ip) const;

  // The location text (GBK) of record `record_id`. Never fails: "IP库不存在" without a
  // database; the empty text for an ID outside 1..N or a record that cannot be read.
  std::string GetIPMsg(uint32_t record_id) const;

  // The location text (GBK) of the record at file offset `record_offset`; the empty text
  // when any part of it lies outside the file or a text has no terminating zero byte.
  std::string GetIPLocation(uint32_t record_offset) const;

  // The database's release date, read from the last record's texts ("2024年01月17日IP数据"
  // gives 2024-01-17). Nothing when no text of that record holds such a date.
  std::optional<std::chrono::year_month_day> GetQQWryDate() const;

 private:
  TQQWry() = default;
  // Checks the header of `data_` and fills the fields, or drops the database.
  void Load(FileBytes data);
  // Start address of record `record_id` (1..N).
  uint32_t StartAddress(uint32_t record_id) const;
  std::optional<uint32_t> ReadU32(uint64_t offset) const;
  std::optional<uint32_t> ReadU24(uint64_t offset) const;
  std::optional<uint8_t> ReadByte(uint64_t offset) const;
  // The zero-terminated text at `offset`; nothing when no zero byte ends it in the file.
  std::optional<std::string_view> ZeroString(uint64_t offset) const;
  std::optional<std::string_view> Area(uint64_t offset) const;
  struct Location {
    std::string_view country;
    std::string_view area;
  };
  // The country and area texts of the record at `record_offset`, or nothing when any
  // part of them cannot be read.
  std::optional<Location> ReadLocation(uint32_t record_offset) const;

  std::string file_name_;
  // The whole file, read once: lookups then share no file position and need no lock, and
  // unlike mmap a file truncated under us cannot raise SIGBUS in the middle of a lookup.
  FileBytes data_;
  uint32_t file_size_ = 0;
  uint32_t record_num_ = 0;
  uint32_t first_index_offset_ = 0;
  uint32_t last_index_offset_ = 0;
};

}  // namespace ostrel
