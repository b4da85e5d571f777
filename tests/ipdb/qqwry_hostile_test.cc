// Truncated, corrupted and random database files: the reader must stay inside the bytes
// it was given (AddressSanitizer checks every read), never loop, and always answer.
#include <gtest/gtest.h>

#include <random>

#include "ipdb/ip2local.h"
#include "ipdb/qqwry.h"
#include "ipdb_fixture.h"

namespace ostrel {
namespace {

using testing::FixtureBytes;
using testing::IndexEntry;
using testing::ReadLe;
using testing::WriteLe;

// Every lookup the reader offers, over the whole record range and a spread of offsets.
void ExerciseAllLookups(const TQQWry& reader, size_t size) {
  const uint32_t n = reader.GetIPRecordNum();
  for (uint32_t id = 0; id <= std::min<uint32_t>(n, 64) + 1; ++id) (void)reader.GetIPMsg(id);
  (void)reader.GetIPMsg(n);
  (void)reader.GetIPMsg(0xFFFFFFFF);
  for (uint64_t offset = 0; offset < size + 8; offset += 1 + offset / 16) {
    (void)reader.GetIPLocation(static_cast<uint32_t>(offset));
  }
  for (const char* address : {"0.0.0.0", "1.2.3.4", "128.0.0.0", "255.255.255.255", "::1"}) {
    const auto id = reader.GetIPRecordID(address);
    if (id) {
      EXPECT_LE(*id, n);
    }
    (void)IP2Local(reader, address);
  }
  (void)reader.GetQQWryDate();
}

TEST(QQWryHostileTest, HeadersThatMakeNoSenseGiveNoDatabase) {
  const std::string good = FixtureBytes("forms");
  const uint32_t first = ReadLe(good, 0, 4);
  const uint32_t size = static_cast<uint32_t>(good.size());
  struct Header {
    uint32_t first;
    uint32_t last;
  };
  for (const Header header :
       {Header{first, first - 1}, Header{size, size}, Header{first, size - 6},
        Header{0xFFFFFFFF, 0xFFFFFFFF}, Header{0xFFFFFFF9, 0xFFFFFFFF}, Header{size - 7, 0}}) {
    std::string bytes = good;
    WriteLe(bytes, 0, 4, header.first);
    WriteLe(bytes, 4, 4, header.last);
    const TQQWry reader = TQQWry::FromBytes(bytes);
    EXPECT_FALSE(reader.HasDatabase()) << header.first << " " << header.last;
    EXPECT_EQ(GbkToUtf8(reader.GetIPMsg(1)), "IP库不存在");
    EXPECT_EQ(IP2Local(reader, "1.2.3.4"), "IP库不存在");
  }
  for (const std::string_view short_file :
       {std::string_view(), std::string_view("\0\0\0\0\0\0\0", 7)}) {
    EXPECT_FALSE(TQQWry::FromBytes(short_file).HasDatabase());
  }
  // The last index entry ending exactly at the end of the file is fine.
  std::string bytes = good;
  WriteLe(bytes, 4, 4, size - 7);
  EXPECT_TRUE(TQQWry::FromBytes(bytes).HasDatabase());
}

TEST(QQWryHostileTest, OffsetsPastTheEndGiveTheEmptyText) {
  const std::string good = FixtureBytes("forms");
  const auto record = [&](uint32_t id) { return ReadLe(good, IndexEntry(good, id) + 4, 3); };
  struct Patch {
    const char* what;
    uint32_t id;
    size_t at;
    int size;
  };
  for (const Patch patch :
       {Patch{"record offset", 1, IndexEntry(good, 1) + 4, 3},
        Patch{"0x01 block offset", 2, record(2) + 5, 3},
        Patch{"0x02 country offset", 4, record(4) + 5, 3},
        Patch{"country offset inside a 0x01 block", 3, ReadLe(good, record(3) + 5, 3) + 1, 3},
        Patch{"area offset", 10, record(10) + 9, 3}}) {
    for (const uint32_t offset : {0xFFFFFFu, static_cast<uint32_t>(good.size())}) {
      std::string bytes = good;
      WriteLe(bytes, patch.at, patch.size, offset);
      const TQQWry reader = TQQWry::FromBytes(bytes);
      EXPECT_EQ(reader.GetIPMsg(patch.id), "") << patch.what;
      EXPECT_EQ(IP2Local(reader, std::to_string(patch.id - 1) + ".0.0.1"), "未知数据")
          << patch.what;
    }
  }
}

TEST(QQWryHostileTest, TextWithoutTerminatorAtTheEndGivesTheEmptyText) {
  // Header, one index entry at 8, and the record at 15 whose country runs to the end.
  std::string bytes(15, '\0');
  WriteLe(bytes, 0, 4, 8);
  WriteLe(bytes, 4, 4, 8);
  WriteLe(bytes, 12, 3, 15);
  bytes += std::string(
      "\xFF\xFF\xFF\xFF"
      "ABC");
  EXPECT_EQ(TQQWry::FromBytes(bytes).GetIPMsg(1), "");
  bytes += std::string("\0\x01\x05\0", 4);  // country ends; area redirect cut off
  EXPECT_EQ(TQQWry::FromBytes(bytes).GetIPMsg(1), "");
  bytes += std::string("\0", 1);
  EXPECT_EQ(TQQWry::FromBytes(bytes).GetIPMsg(1), "ABC");  // area redirect to offset 5: ""
}

TEST(QQWryHostileTest, EveryTruncationStaysInBounds) {
  for (const char* name : {"forms", "placeholder"}) {
    const std::string good = FixtureBytes(name);
    for (size_t size = 0; size <= good.size(); ++size) {
      const std::string bytes = good.substr(0, size);
      const TQQWry reader = TQQWry::FromBytes(bytes);
      EXPECT_LE(reader.GetQQWryFileSize(), size);
      ExerciseAllLookups(reader, size);
    }
  }
}

TEST(QQWryHostileTest, RandomBuffersNeverCrash) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(random() % 300, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    // Most random headers are rejected; make half of them plausible to reach the records.
    if (round % 2 == 0 && bytes.size() >= 15) {
      const uint32_t first = 8 + random() % (bytes.size() - 14);
      const uint32_t last = first + 7 * (random() % ((bytes.size() - 7 - first) / 7 + 1));
      WriteLe(bytes, 0, 4, first);
      WriteLe(bytes, 4, 4, last);
      // Point some record offsets into the buffer so redirects get followed.
      for (uint32_t entry = first; entry <= last; entry += 7) {
        if (random() % 2) WriteLe(bytes, entry + 4, 3, random() % bytes.size());
      }
    }
    const TQQWry reader = TQQWry::FromBytes(bytes);
    ExerciseAllLookups(reader, bytes.size());
  }
}

}  // namespace
}  // namespace ostrel
