#include "ipdb/ip2local.h"

#include <gtest/gtest.h>

#include "ipdb_fixture.h"

namespace ostrel {
namespace {

using testing::FixtureReader;

struct LocalCase {
  std::string address;
  std::string expected;
};

void PrintTo(const LocalCase& c, std::ostream* os) { *os << c.address; }

class PlaceholderTest : public ::testing::TestWithParam<LocalCase> {
 protected:
  const TQQWry reader_ = FixtureReader("placeholder");
};

TEST_P(PlaceholderTest, RemovesVendorPlaceholder) {
  EXPECT_EQ(IP2Local(reader_, GetParam().address), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholder, PlaceholderTest,
    ::testing::Values(LocalCase{"0.1.2.3", "中国  "},  // the blanks beside it stay
                      LocalCase{"1.0.0.0", ""},        // nothing but the placeholder
                      LocalCase{"2.0.0.0", "中国北京 电信"},
                      LocalCase{"3.0.0.0", "cz88.net Cz88.Net"},  // case-sensitive
                      LocalCase{"4.0.0.0", ""},  // an occurrence joined by a removal goes too
                      // 0x81 0x43 is one character whose trail byte is 'C': no match.
                      LocalCase{"5.0.0.0", "丆Z88.NET"},
                      LocalCase{"6.0.0.0", "未知数据"},  // empty record text
                      LocalCase{"7.0.0.0", "中国 未知地区"}, LocalCase{"8.0.0.0", "     "},
                      LocalCase{"255.255.255.255", "纯真网络 2024年01月17日IP数据"}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, PlaceholderTest,
    ::testing::Values(LocalCase{"::1", "IP格式不对"}, LocalCase{"-", "IP格式不对"},
                      LocalCase{"", "IP格式不对"}, LocalCase{"localhost", "IP格式不对"},
                      LocalCase{"www.example.com", "IP格式不对"},
                      LocalCase{"2001:db8::1", "IP格式不对"}, LocalCase{"1.2.3", "IP格式不对"},
                      LocalCase{"1.2.3.4x", "IP格式不对"}));

TEST(IP2LocalTest, ReaderWithoutDatabase) {
  const TQQWry reader("/nonexistent/QQWry.dat");
  EXPECT_EQ(IP2Local(reader, "1.2.3.4"), "IP库不存在");
  EXPECT_EQ(IP2Local(reader, "1.2.3"), "IP格式不对");
}

TEST(IP2LocalTest, AddressWithoutRecord) {
  EXPECT_EQ(IP2Local(FixtureReader("late_start"), "0.0.0.1"), "未知数据");
  EXPECT_EQ(IP2Local(FixtureReader("late_start"), "2.0.0.1"), "二 IP");
}

TEST(IP2LocalTest, UndecodableBytesBecomeReplacementCharacters) {
  const TQQWry reader = TQQWry::FromBytes(BuildQQWry({QQWryEntry{0, CountryForm::kInline,
                                                                 "A\xFF"
                                                                 "CZ88.NET",
                                                                 AreaForm::kInline, "\x80"}}));
  EXPECT_EQ(IP2Local(reader, "1.1.1.1"), "A\uFFFD \uFFFD");
}

class RealDatabaseTest : public ::testing::TestWithParam<LocalCase> {};

TEST_P(RealDatabaseTest, GivesKnownLocation) {
  const auto path = testing::RealDatabasePath();
  if (!path) GTEST_SKIP() << "QQWry.dat not fetched (scripts/fetch-ipdb)";
  const TQQWry reader(path->string());
  EXPECT_EQ(IP2Local(reader, GetParam().address), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Known, RealDatabaseTest,
    ::testing::Values(LocalCase{"8.8.8.8", "美国加利福尼亚州圣克拉拉县山景市 谷歌公司DNS服务器"},
                      LocalCase{"127.0.0.1", "本机地址  "}, LocalCase{"10.0.0.1", "局域网 IP"},
                      LocalCase{"::1", "IP格式不对"}));

}  // namespace
}  // namespace ostrel
