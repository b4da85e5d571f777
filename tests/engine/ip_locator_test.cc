#include "engine/ip_locator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ipdb/gbk.h"
#include "ipdb/ip2local.h"
#include "ipdb/qqwry.h"
#include "tools/qqwry_builder/qqwry_builder.h"

namespace ostrel {
namespace {

struct CountingLookup {
  std::map<std::string, std::string, std::less<>> table;
  std::vector<std::string> asked;

  IpLocator Make(std::size_t max_entries = IpLocator::kDefaultMaxEntries) {
    return IpLocator(
        [this](std::string_view address) {
          asked.emplace_back(address);
          const auto found = table.find(address);
          return found == table.end() ? std::string() : found->second;
        },
        max_entries);
  }
};

TEST(IpLocatorTest, RemovesSpacesAndNamesEmptyAnswersIntranet) {
  CountingLookup lookup{{{"1.1.1.1", " 美国  加州 "}, {"2.2.2.2", "  "}}, {}};
  IpLocator locator = lookup.Make();
  EXPECT_EQ(locator.Locate("1.1.1.1"), "美国加州");
  EXPECT_EQ(locator.Locate("3.3.3.3"), "内网");
  // Only blanks would insert nothing and shift the line's columns.
  EXPECT_EQ(locator.Locate("2.2.2.2"), "内网");
}

// A hostile database text cannot end a result line or hide characters in it.
TEST(IpLocatorTest, ControlCharactersBecomeReplacementCharacters) {
  CountingLookup lookup{{{"1.1.1.1", "北京\r\n伪造行\x01\x7f"}}, {}};
  IpLocator locator = lookup.Make();
  EXPECT_EQ(locator.Locate("1.1.1.1"),
            "北京\xEF\xBF\xBD\xEF\xBF\xBD伪造行\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(IpLocatorTest, AsksTheLookupOncePerAddressText) {
  CountingLookup lookup{{{"1.1.1.1", "甲"}, {"1.1.1.1.", "乙"}}, {}};
  IpLocator locator = lookup.Make();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(locator.Locate("1.1.1.1"), "甲");
    EXPECT_EQ(locator.Locate("1.1.1.1."), "乙");
  }
  EXPECT_EQ(lookup.asked, (std::vector<std::string>{"1.1.1.1", "1.1.1.1."}));
  EXPECT_EQ(locator.CachedCount(), 2u);
}

TEST(IpLocatorTest, StaysWithinItsBoundAndStillAnswersRight) {
  CountingLookup lookup;
  for (int i = 0; i < 50; ++i) lookup.table["10.0.0." + std::to_string(i)] = std::to_string(i);
  IpLocator locator = lookup.Make(8);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 50; ++i) {
      const std::string address = "10.0.0." + std::to_string(i);
      ASSERT_EQ(locator.Locate(address), std::to_string(i));
      ASSERT_LE(locator.CachedCount(), 8u);
    }
  }
}

// The locator over a real reader answers as IP2Local does, cleaned for insertion.
TEST(IpLocatorTest, AnswersLikeIp2LocalOnAReader) {
  const std::vector<QQWryEntry> entries = {
      {0x01000000, CountryForm::kInline, Utf8ToGbk("中国"), AreaForm::kInline,
       Utf8ToGbk("北京 电信")},
      {0x02000000, CountryForm::kInline, "CZ88.NET", AreaForm::kInline, "CZ88.NET"},
      {0x03000000, CountryForm::kInline, "IANA", AreaForm::kInline, "CZ88.NET"},
      {0x04000000, CountryForm::kInline, Utf8ToGbk("局域网"), AreaForm::kInline, ""},
  };
  const TQQWry reader = TQQWry::FromBytes(BuildQQWry(entries), "fixture");
  ASSERT_TRUE(reader.HasDatabase());
  IpLocator locator(reader);
  for (const std::string_view address :
       {"1.2.3.4", "2.0.0.1", "3.9.9.9", "4.4.4.4", "0.0.0.1", "::1", "-", "1.2.3.4."}) {
    SCOPED_TRACE(address);
    std::string expected = IP2Local(reader, address);
    std::erase(expected, ' ');
    if (expected.empty()) expected = "内网";
    EXPECT_EQ(locator.Locate(address), expected);
    EXPECT_EQ(locator.Locate(address), expected);  // and from the cache
  }
  EXPECT_EQ(locator.Locate("1.2.3.4"), "中国北京电信");
  EXPECT_EQ(locator.Locate("3.9.9.9"), "IANA");
  EXPECT_EQ(locator.Locate("::1"), "IP格式不对");
}

}  // namespace
}  // namespace ostrel
