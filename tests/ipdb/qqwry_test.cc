#include "ipdb/qqwry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "ipdb_fixture.h"

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using testing::Entry;
using testing::FixtureBytes;
using testing::FixtureReader;
using testing::LocationOf;

struct IpValueCase {
  std::string text;
  std::optional<uint32_t> value;
};

void PrintTo(const IpValueCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class GetIPValueTest : public ::testing::TestWithParam<IpValueCase> {};

TEST_P(GetIPValueTest, ParsesLikeStrToInt) {
  EXPECT_EQ(TQQWry::GetIPValue(GetParam().text), GetParam().value);
}

constexpr uint32_t k1234 = 0x01020304;

INSTANTIATE_TEST_SUITE_P(
    Accepted, GetIPValueTest,
    ::testing::Values(IpValueCase{"1.2.3.4", k1234}, IpValueCase{"1.2.3.4.5", k1234},
                      IpValueCase{"1.2.3.4.", k1234}, IpValueCase{"1.2.3.4.junk", k1234},
                      IpValueCase{"01.2.3.4", k1234}, IpValueCase{"010.0.0.0", 0x0A000000},
                      IpValueCase{" 1.2.3.4", k1234}, IpValueCase{"1.  2.3.4", k1234},
                      IpValueCase{"+1.2.3.4", k1234}, IpValueCase{"0.0.0.0", 0},
                      IpValueCase{"255.255.255.255", 0xFFFFFFFF},
                      IpValueCase{"256.0.0.1", 1},  // the sum wraps modulo 2^32
                      IpValueCase{"-1.0.0.0", 0xFF000000}, IpValueCase{"0.0.0.-1", 0xFFFFFFFF},
                      IpValueCase{"0.0.1.-1", 0xFF}, IpValueCase{"0.0.0.300", 300},
                      IpValueCase{"$FF.0.0.1", 0xFF000001}, IpValueCase{"x10.0.0.0", 0x10000000},
                      IpValueCase{"X1f.0.0.0", 0x1F000000}, IpValueCase{"0x7f.0.0.1", 0x7F000001},
                      IpValueCase{"0X7F.0.0.1", 0x7F000001}, IpValueCase{"-$1.0.0.0", 0xFF000000},
                      IpValueCase{" +$a.0.0.0", 0x0A000000},
                      // Leading zeros are not significant hexadecimal digits.
                      IpValueCase{"0x00000000F.0.0.0", 0x0F000000},
                      IpValueCase{"0.0.0.$FFFFFFFF", 0xFFFFFFFF},
                      IpValueCase{"0.0.0.-$FFFFFFFF", 1},
                      IpValueCase{"0.0.0.2147483647", 0x7FFFFFFF},
                      IpValueCase{"0.0.0.-2147483648", 0x80000000},
                      IpValueCase{"0.0.0.00000000002147483647", 0x7FFFFFFF}));

INSTANTIATE_TEST_SUITE_P(
    Refused, GetIPValueTest,
    ::testing::Values(
        IpValueCase{"", {}}, IpValueCase{"1.2.3", {}}, IpValueCase{"1..2.3", {}},
        IpValueCase{"1.2.3.x", {}}, IpValueCase{"1.2.3. 4x", {}}, IpValueCase{"1.2.3.4 ", {}},
        IpValueCase{"1.2.3.\t4", {}}, IpValueCase{"...", {}}, IpValueCase{"....", {}},
        IpValueCase{"::1", {}}, IpValueCase{"-", {}}, IpValueCase{"example.com", {}},
        IpValueCase{"a.b.c.d", {}}, IpValueCase{"1.2.3.0x", {}}, IpValueCase{"1.2.3.$", {}},
        IpValueCase{"1.2.3.+", {}}, IpValueCase{"1.2.3.- 1", {}}, IpValueCase{"1.2.3.--1", {}},
        IpValueCase{"1.2.3.1e3", {}}, IpValueCase{"1.2.3.0x1g", {}},
        IpValueCase{"1.2.3.0x123456789", {}},  // nine significant digits
        IpValueCase{"1.2.3.2147483648", {}}, IpValueCase{"1.2.3.-2147483649", {}},
        IpValueCase{"1.2.3.99999999999999999999", {}}, IpValueCase{std::string("1.2.3.4\0", 8), {}},
        IpValueCase{"1.2.3.\xEF\xBC\x94", {}}));  // a full-width digit

// Each storage form of forms.txt: the address k-1.0.0.0 falls in record k.
struct FormCase {
  std::string address;
  uint32_t record_id;
  std::string location;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.address; }

class StorageFormTest : public ::testing::TestWithParam<FormCase> {
 protected:
  const TQQWry reader_ = FixtureReader("forms");
};

TEST_P(StorageFormTest, GivesRecordText) {
  EXPECT_EQ(reader_.GetIPRecordID(GetParam().address), GetParam().record_id);
  EXPECT_EQ(LocationOf(reader_, GetParam().address), GetParam().location);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, StorageFormTest,
    ::testing::Values(FormCase{"0.0.0.0", 1, "IANA 保留地址"},
                      FormCase{"1.0.0.0", 2, "美国 加利福尼亚"},
                      FormCase{"2.0.0.0", 3, "日本 东京"}, FormCase{"3.0.0.0", 4, "中国 未知地区"},
                      FormCase{"4.0.0.0", 5, "中国 未知地区"}, FormCase{"5.0.0.0", 6, "仅地区"},
                      FormCase{"6.0.0.0", 7, "仅国家"}, FormCase{"7.0.0.0", 8, ""},
                      FormCase{"8.0.0.0", 9, "美国 加利福尼亚"},
                      FormCase{"9.0.0.0", 10, "中国 北京"},
                      FormCase{"10.0.0.0", 11, "日本 未知地区"},
                      FormCase{"11.0.0.0", 12, "英国 伦敦"}, FormCase{"12.0.0.0", 13, "法国 东京"},
                      FormCase{"13.0.0.0", 14, "\x01X a"}, FormCase{"14.0.0.0", 15, "德国"},
                      FormCase{"15.0.0.0", 16, "仅地区"}, FormCase{"15.255.255.255", 16, "仅地区"},
                      FormCase{"255.255.255.0", 17, "纯真网络 2024年01月17日IP数据"},
                      FormCase{"255.255.255.255", 17, "纯真网络 2024年01月17日IP数据"}));

// Guards the fixtures: each record really uses the form its line names, so the table
// above exercises every branch of the reader.
TEST(QQWryBuilderTest, WritesTheRequestedForms) {
  const std::string bytes = FixtureBytes("forms");
  const auto record = [&](uint32_t id) {
    return testing::ReadLe(bytes, testing::IndexEntry(bytes, id) + 4, 3);
  };
  const auto byte = [&](uint32_t offset) { return static_cast<unsigned char>(bytes.at(offset)); };
  EXPECT_NE(byte(record(1) + 4), 0x01);
  EXPECT_NE(byte(record(1) + 4), 0x02);
  EXPECT_EQ(byte(record(2) + 4), 0x01);
  const uint32_t block2 = testing::ReadLe(bytes, record(2) + 5, 3);
  EXPECT_NE(byte(block2), 0x02);
  EXPECT_EQ(byte(record(3) + 4), 0x01);
  const uint32_t block3 = testing::ReadLe(bytes, record(3) + 5, 3);
  EXPECT_EQ(byte(block3), 0x02);
  EXPECT_EQ(byte(block3 + 4), 0x01);  // area redirect inside the block
  EXPECT_EQ(byte(record(4) + 4), 0x02);
  EXPECT_EQ(byte(record(4) + 8), 0x01);
  EXPECT_EQ(testing::ReadLe(bytes, record(4) + 9, 3), 0u);
  EXPECT_EQ(byte(record(5) + 8), 0x02);
  EXPECT_EQ(byte(record(6) + 4), 0x00);
  EXPECT_EQ(testing::ReadLe(bytes, record(9) + 5, 3), block2);  // shared block
  EXPECT_EQ(testing::ReadLe(bytes, record(10) + 5, 3), testing::ReadLe(bytes, record(4) + 5, 3));
  EXPECT_EQ(byte(testing::ReadLe(bytes, record(14) + 5, 3)), 0x01);
}

TEST(QQWryTest, ReturnsRawGbkIncludingItsOwnTexts) {
  const TQQWry reader = FixtureReader("forms");
  EXPECT_EQ(reader.GetIPMsg(1), "IANA \xB1\xA3\xC1\xF4\xB5\xD8\xD6\xB7");
  EXPECT_EQ(reader.GetIPMsg(4), Utf8ToGbk("中国 未知地区"));
  EXPECT_EQ(reader.GetIPMsg(0), "");
  EXPECT_EQ(reader.GetIPMsg(18), "");
  EXPECT_EQ(reader.GetIPMsg(0xFFFFFFFF), "");
  EXPECT_EQ(reader.GetIPRecordNum(), 17u);
  EXPECT_EQ(reader.GetQQWryFileSize(), FixtureBytes("forms").size());
  EXPECT_EQ(reader.GetQQWryFileName(), "forms");
}

TEST(QQWryTest, GetIPLocationReadsARecordByOffset) {
  const std::string bytes = FixtureBytes("forms");
  const TQQWry reader = TQQWry::FromBytes(bytes);
  const uint32_t offset = testing::ReadLe(bytes, testing::IndexEntry(bytes, 12) + 4, 3);
  EXPECT_EQ(GbkToUtf8(reader.GetIPLocation(offset)), "英国 伦敦");
  EXPECT_EQ(reader.GetIPLocation(0xFFFFFFFF), "");
}

TEST(QQWryTest, MovedFromReaderHasNoDatabase) {
  TQQWry reader = FixtureReader("forms");
  TQQWry moved = std::move(reader);
  EXPECT_EQ(LocationOf(moved, "2.0.0.0"), "日本 东京");
  // NOLINTNEXTLINE(bugprone-use-after-move): the moved-from state is what is tested.
  EXPECT_EQ(reader.GetIPRecordNum(), 0u);
  EXPECT_EQ(reader.GetIPRecordID("2.0.0.0"), 0u);
  EXPECT_EQ(GbkToUtf8(reader.GetIPMsg(1)), "IP库不存在");
  reader = std::move(moved);
  EXPECT_EQ(LocationOf(reader, "2.0.0.0"), "日本 东京");
  EXPECT_FALSE(moved.HasDatabase());  // NOLINT(bugprone-use-after-move)
}

struct SearchCase {
  uint32_t value;
  uint32_t record_id;
};

class SearchBoundaryTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchBoundaryTest, FindsCoveringRecord) {
  const TQQWry reader = FixtureReader("search");  // starts 0, 100, 200
  const uint32_t v = GetParam().value;
  const std::string address = std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 255) + "." +
                              std::to_string(v >> 8 & 255) + "." + std::to_string(v & 255);
  EXPECT_EQ(reader.GetIPRecordID(address), GetParam().record_id) << address;
}

INSTANTIATE_TEST_SUITE_P(StartsZeroHundredTwoHundred, SearchBoundaryTest,
                         ::testing::Values(SearchCase{0, 1}, SearchCase{99, 1}, SearchCase{100, 2},
                                           SearchCase{150, 2}, SearchCase{199, 2},
                                           SearchCase{200, 3}, SearchCase{201, 3},
                                           SearchCase{0x01000000, 3}, SearchCase{0xFFFFFFFF, 3}));

TEST(QQWrySearchTest, AgreesWithLinearScanOnManyRecords) {
  std::mt19937 random(20240117);
  std::vector<uint32_t> starts = {0};
  while (starts.size() < 1000) starts.push_back(static_cast<uint32_t>(random()));
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  std::vector<QQWryEntry> entries;
  for (const uint32_t start : starts) {
    entries.push_back(Entry(start, CountryForm::kInline, "x", AreaForm::kInline, ""));
  }
  const TQQWry reader = TQQWry::FromBytes(BuildQQWry(entries));
  ASSERT_EQ(reader.GetIPRecordNum(), starts.size());
  std::vector<uint32_t> probes = {0, 0xFFFFFFFF};
  for (const uint32_t start : starts) {
    probes.push_back(start);
    probes.push_back(start - 1);
    probes.push_back(start + 1);
  }
  for (int i = 0; i < 2000; ++i) probes.push_back(static_cast<uint32_t>(random()));
  for (const uint32_t v : probes) {
    const auto expected = std::upper_bound(starts.begin(), starts.end(), v) - starts.begin();
    const std::string address = "0.0.0." + std::to_string(static_cast<int32_t>(v));
    ASSERT_EQ(reader.GetIPRecordID(address), static_cast<uint32_t>(expected)) << v;
  }
}

TEST(QQWrySearchTest, AddressBelowFirstStartHasNoRecord) {
  const TQQWry reader = FixtureReader("late_start");
  EXPECT_EQ(reader.GetIPRecordID("0.255.255.255"), 0u);
  EXPECT_EQ(reader.GetIPRecordID("0.0.0.0"), 0u);
  EXPECT_EQ(reader.GetIPRecordID("1.0.0.0"), 1u);
  EXPECT_EQ(reader.GetIPRecordID("200.0.0.0"), 2u);
}

TEST(QQWrySearchTest, NonAscendingIndexTerminatesWithinRange) {
  for (const std::vector<uint32_t>& starts :
       {std::vector<uint32_t>{0, 5, 5, 9}, std::vector<uint32_t>{9, 5, 3, 0},
        std::vector<uint32_t>{0, 7, 3, 7, 1, 0xFFFFFFFF, 2}, std::vector<uint32_t>(50, 42)}) {
    std::vector<QQWryEntry> entries;
    for (const uint32_t start : starts) {
      entries.push_back(Entry(start, CountryForm::kInline, "x", AreaForm::kInline, ""));
    }
    const TQQWry reader = TQQWry::FromBytes(BuildQQWry(entries));
    for (const uint32_t v : {0u, 1u, 3u, 4u, 5u, 6u, 7u, 9u, 42u, 100u, 0xFFFFFFFFu}) {
      const auto id = reader.GetIPRecordID("0.0.0." + std::to_string(static_cast<int32_t>(v)));
      ASSERT_TRUE(id.has_value());
      EXPECT_LE(*id, reader.GetIPRecordNum());
    }
  }
}

TEST(QQWryHeaderTest, RecordCountFromIndexOffsets) {
  std::string bytes = FixtureBytes("forms");
  const uint32_t first = testing::ReadLe(bytes, 0, 4);
  testing::WriteLe(bytes, 4, 4, first);
  EXPECT_EQ(TQQWry::FromBytes(bytes).GetIPRecordNum(), 1u);
  testing::WriteLe(bytes, 4, 4, first + 20);  // the remainder of 20 / 7 is dropped
  const TQQWry three = TQQWry::FromBytes(bytes);
  EXPECT_EQ(three.GetIPRecordNum(), 3u);
  EXPECT_EQ(LocationOf(three, "200.0.0.0"), "日本 东京");  // the last record covers the rest
}

TEST(QQWryDateTest, ReadsTheLastRecordsDate) {
  EXPECT_EQ(FixtureReader("forms").GetQQWryDate(), 2024y / 1 / 17);
  const auto date_of = [](std::string_view country, std::string_view area) {
    return TQQWry::FromBytes(
               BuildQQWry({Entry(0, CountryForm::kInline, "a", AreaForm::kInline, "b"),
                           Entry(9, CountryForm::kInline, country, AreaForm::kInline, area)}))
        .GetQQWryDate();
  };
  EXPECT_EQ(date_of("2023年1月7日IP数据", ""), 2023y / 1 / 7);
  EXPECT_EQ(date_of("纯真网络", "2020年02月29日IP数据"), 2020y / 2 / 29);
  EXPECT_EQ(date_of("纯真网络", "2021年02月29日IP数据"), std::nullopt);
  EXPECT_EQ(date_of("纯真网络", "2024年13月01日IP数据"), std::nullopt);
  EXPECT_EQ(date_of("纯真网络", "2024年01月17日"), std::nullopt);
  EXPECT_EQ(date_of("纯真网络", "版本2024年01月17日IP数据"), std::nullopt);
  EXPECT_EQ(date_of("纯真网络", "2024-01-17IP数据"), std::nullopt);
  EXPECT_EQ(TQQWry("/nonexistent/QQWry.dat").GetQQWryDate(), std::nullopt);
}

class QQWryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("qqwry_file_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(QQWryFileTest, ReadsAFileLikeBytes) {
  const std::string bytes = FixtureBytes("forms");
  const std::string path = (dir_ / "QQWry.dat").string();
  std::ofstream(path, std::ios::binary) << bytes;
  const TQQWry reader(path);
  EXPECT_EQ(reader.GetQQWryFileName(), path);
  EXPECT_EQ(reader.GetQQWryFileSize(), bytes.size());
  EXPECT_EQ(reader.GetIPRecordNum(), 17u);
  EXPECT_EQ(LocationOf(reader, "11.1.2.3"), "英国 伦敦");
}

TEST_F(QQWryFileTest, UnusableFilesGiveNoDatabase) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream((dir_ / "empty.dat").string());
  for (const std::string& path : {(dir_ / "missing.dat").string(), dir_.string(), fifo,
                                  (dir_ / "empty.dat").string(), std::string("/dev/zero")}) {
    const TQQWry reader(path);  // a FIFO or device must not block or loop
    EXPECT_FALSE(reader.HasDatabase()) << path;
    EXPECT_EQ(reader.GetQQWryFileName(), path);
    EXPECT_EQ(reader.GetIPRecordNum(), 0u);
    EXPECT_EQ(reader.GetQQWryFileSize(), 0u);
    EXPECT_EQ(reader.GetIPRecordID("1.2.3.4"), 0u);
    EXPECT_EQ(reader.GetIPRecordID("1.2.3"), std::nullopt);
    for (const uint32_t id : {0u, 1u, 2u, 0xFFFFFFFFu}) {
      EXPECT_EQ(GbkToUtf8(reader.GetIPMsg(id)), "IP库不存在");
    }
  }
}

TEST(QQWryThreadTest, ConcurrentLookupsAgreeWithSequentialOnes) {
  std::vector<QQWryEntry> entries;
  for (uint32_t i = 0; i < 256; ++i) {
    entries.push_back(Entry(i << 24, i % 2 ? CountryForm::kRef1 : CountryForm::kRef2,
                            "国家" + std::to_string(i % 7), AreaForm::kRef1,
                            "地区" + std::to_string(i % 5)));
  }
  const TQQWry reader = TQQWry::FromBytes(BuildQQWry(entries));
  std::vector<std::string> expected;
  for (int i = 0; i < 256; ++i) expected.push_back(reader.GetIPMsg(i + 1));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 2000; ++n) {
        const int i = (n * 7 + t) % 256;
        const auto id = reader.GetIPRecordID(std::to_string(i) + ".1.2.3");
        if (!id || reader.GetIPMsg(*id) != expected[i]) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(QQWryRealDatabaseTest, AnswersKnownAddresses) {
  const auto path = testing::RealDatabasePath();
  if (!path) GTEST_SKIP() << "QQWry.dat not fetched (scripts/fetch-ipdb)";
  const TQQWry reader(path->string());
  ASSERT_TRUE(reader.HasDatabase());
  EXPECT_EQ(reader.GetIPRecordNum(), 547698u);
  EXPECT_EQ(reader.GetQQWryDate(), 2024y / 1 / 17);
  EXPECT_EQ(reader.GetIPRecordID("0.0.0.0"), 1u);
  EXPECT_EQ(reader.GetIPRecordID("255.255.255.255"), reader.GetIPRecordNum());
  EXPECT_EQ(LocationOf(reader, "8.8.8.8"), "美国加利福尼亚州圣克拉拉县山景市 谷歌公司DNS服务器");
}

}  // namespace
}  // namespace ostrel
