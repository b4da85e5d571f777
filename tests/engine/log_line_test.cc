#include "engine/log_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/field_cursor.h"
#include "engine/ip_locator.h"
#include "engine/line_error.h"

namespace ostrel {
namespace {

using ::testing::HasSubstr;
using namespace std::string_literals;

// ---------------------------------------------------------------------------------------
// IsIPv4, CopyToLastChar and the integer reader

struct IPv4Case {
  std::string text;
  bool expected;
};

class IsIPv4Test : public ::testing::TestWithParam<IPv4Case> {};

TEST_P(IsIPv4Test, Reads) { EXPECT_EQ(IsIPv4(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, IsIPv4Test,
    ::testing::Values(
        IPv4Case{"1.2.3.4", true}, IPv4Case{"255.255.255.255", true}, IPv4Case{"0.0.0.0", true},
        IPv4Case{"1.2.3.4.", true}, IPv4Case{" \t1.2.3.4 \r", true}, IPv4Case{"1.2.3.4 ", true},
        IPv4Case{"$ff.0x10.+1.-0", true}, IPv4Case{"x1.2.3.4", true},
        IPv4Case{"01.002.0003.4", true}, IPv4Case{"1.2.3", false}, IPv4Case{"1.2.3.4.5", false},
        IPv4Case{"1..2.3", false}, IPv4Case{"1.2.3.256", false}, IPv4Case{"1.2.3.-1", false},
        IPv4Case{"1.2.3.4..", false}, IPv4Case{".1.2.3.4", false}, IPv4Case{"", false},
        IPv4Case{" ", false}, IPv4Case{"a.b.c.d", false}, IPv4Case{"1.2.3.4\t-", false},
        IPv4Case{"1.2.3.4 -", false}, IPv4Case{"::1", false}, IPv4Case{"0x.1.2.3", false},
        IPv4Case{"1.2.3.4294967297", false}));

TEST(CopyToLastCharTest, GivesThePrefixThroughTheLastOccurrence) {
  EXPECT_EQ(CopyToLastChar("a\"b\"c", '"'), "a\"b\"");
  EXPECT_EQ(CopyToLastChar("\"", '"'), "\"");
  EXPECT_EQ(CopyToLastChar("abc", '"'), "");
  EXPECT_EQ(CopyToLastChar("", '"'), "");
  EXPECT_EQ(CopyToLastChar("abc\"", '"').size(), 4u);
}

struct IntegerCase {
  std::string text;
  std::optional<std::int32_t> expected;
};

class ReadIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ReadIntegerTest, Reads) { EXPECT_EQ(ReadInteger(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, ReadIntegerTest,
    ::testing::Values(IntegerCase{"200", 200}, IntegerCase{"  200", 200}, IntegerCase{"20", 20},
                      IntegerCase{"0", 0}, IntegerCase{"-5", -5}, IntegerCase{"+7", 7},
                      IntegerCase{"007", 7}, IntegerCase{"$c8", 200}, IntegerCase{"0xc8", 200},
                      IntegerCase{"0XC8", 200}, IntegerCase{"xc8", 200}, IntegerCase{"Xc8", 200},
                      IntegerCase{"-$10", -16}, IntegerCase{"2147483647", 2147483647},
                      IntegerCase{"-2147483648", -2147483647 - 1},
                      IntegerCase{"$7fffffff", 2147483647}, IntegerCase{"$FFFFFFFF", -1},
                      IntegerCase{"$000000001", 1}, IntegerCase{"2147483648", std::nullopt},
                      IntegerCase{"-2147483649", std::nullopt},
                      IntegerCase{"99999999999999999999", std::nullopt},
                      IntegerCase{"$100000000", std::nullopt}, IntegerCase{"", std::nullopt},
                      IntegerCase{" ", std::nullopt}, IntegerCase{"200 ", std::nullopt},
                      IntegerCase{"\t200", std::nullopt}, IntegerCase{"abc", std::nullopt},
                      IntegerCase{"-", std::nullopt}, IntegerCase{"+", std::nullopt},
                      IntegerCase{"$", std::nullopt}, IntegerCase{"0x", std::nullopt},
                      IntegerCase{"x", std::nullopt}, IntegerCase{"1a", std::nullopt},
                      IntegerCase{"+-1", std::nullopt}, IntegerCase{"$g", std::nullopt},
                      IntegerCase{"２００", std::nullopt},
                      IntegerCase{"2\0"
                                  "0"s,
                                  std::nullopt}));

// ---------------------------------------------------------------------------------------
// Extraction

// A locator over a fixed table that records every address it is asked about.
class FakeLocations {
 public:
  IpLocator MakeLocator() {
    return IpLocator([this](std::string_view address) {
      asked.emplace_back(address);
      const auto found = table.find(std::string(address));
      return found == table.end() ? std::string("未知数据") : found->second;
    });
  }

  std::map<std::string, std::string> table = {
      {"1.2.3.4", "中国 北京"},
      {"10.0.0.5", ""},
      {"1.2.3.4.", "点 结尾"},
  };
  std::vector<std::string> asked;
};

// The owned copy of an extraction, so results outlive the extractor's next call.
struct Extracted {
  std::string line, subject_a, subject_b, status;
  bool operator==(const Extracted&) const = default;
};

void PrintTo(const Extracted& e, std::ostream* os) {
  *os << "{line=\"" << e.line << "\" a=\"" << e.subject_a << "\" b=\"" << e.subject_b
      << "\" status=\"" << e.status << "\"}";
}

class ExtractTest : public ::testing::Test {
 protected:
  std::optional<Extracted> Extract(LogType type, std::string_view line) {
    LineExtractor extractor(type, locator_);
    const std::optional<TLogLine> got = extractor.ExtractLogLine(line);
    if (!got) return std::nullopt;
    return Extracted{std::string(got->Line), std::string(got->SubjectA), std::string(got->SubjectB),
                     std::string(got->StatusText)};
  }

  FakeLocations locations_;
  IpLocator locator_ = locations_.MakeLocator();
};

// The W3C layout the type 0 positions fit: date time s-ip cs-method cs-uri-stem
// cs-uri-query s-port cs-username c-ip cs(User-Agent) sc-status ...
constexpr std::string_view kIisLine =
    "2024-05-01 08:00:01 10.0.0.5 GET /Login.ASPX ID=1&q=中文ABC 80 - 1.2.3.4 "
    "Mozilla/5.0+(Windows+NT) 200 0 0 512 300 15";

TEST_F(ExtractTest, IisTakesFieldsByPositionAndInsertsTheLocation) {
  EXPECT_EQ(Extract(LogType::kIis, kIisLine),
            (Extracted{"2024-05-01 08:00:01 10.0.0.5 get /login.aspx id=1&q=中文abc 80 - "
                       "1.2.3.4 中国北京 mozilla/5.0+(windows+nt) 200 0 0 512 300 15",
                       "get", "id=1&q=中文abc", "200"}));
  EXPECT_EQ(locations_.asked, std::vector<std::string>{"1.2.3.4"});
}

TEST_F(ExtractTest, IisQuotesBecomeDashesInLineAndFields) {
  const auto got =
      Extract(LogType::kIis, "d t 10.0.0.5 GET /a q=\"x\" 80 - 1.2.3.4 \"Mozilla/5.0\" 200");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->line, "d t 10.0.0.5 get /a q=-x- 80 - 1.2.3.4 中国北京 -mozilla/5.0- 200");
  EXPECT_EQ(got->subject_b, "q=-x-");
}

TEST_F(ExtractTest, IisQuotedAgentWithBlanksShiftsTheFields) {
  // Fields are cut at blanks only; quotes do not hold a field together.
  const auto got =
      Extract(LogType::kIis, "d t 1.1.1.1 GET /a - 80 - 1.2.3.4 \"Mozilla 5.0\" 200 0");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->status, "5.0-");
}

TEST_F(ExtractTest, IisEveryOccurrenceOfTheClientGetsTheLocation) {
  const auto got = Extract(LogType::kIis, "d t 1.2.3.4 GET /a ip=1.2.3.4 80 - 1.2.3.4 ua 200");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->line,
            "d t 1.2.3.4 中国北京 get /a ip=1.2.3.4 中国北京 80 - 1.2.3.4 中国北京 ua 200");
  // The subjects come from the line before the insertion.
  EXPECT_EQ(got->subject_b, "ip=1.2.3.4");
}

TEST_F(ExtractTest, IisEmptyLocationBecomesIntranet) {
  const auto got = Extract(LogType::kIis, "d t s GET /a - 80 - 10.0.0.5 ua 404");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->line, "d t s get /a - 80 - 10.0.0.5 内网 ua 404");
  EXPECT_EQ(got->status, "404");
}

TEST_F(ExtractTest, IisFieldsSplitAtRunsOfControlCharacters) {
  const auto got =
      Extract(LogType::kIis, "\x01 d\tt  s\x1fGET\v/a\f\f-  80 -   1.2.3.4 ua 200 \r\0"s);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->subject_a, "get");
  EXPECT_EQ(got->subject_b, "-");
  EXPECT_EQ(got->status, "200");
  // Trimmed at both ends, inner separators kept as they were.
  EXPECT_EQ(got->line, "d\tt  s\x1fget\v/a\f\f-  80 -   1.2.3.4 中国北京 ua 200");
}

TEST_F(ExtractTest, IisNulIsNoSeparator) {
  const auto got = Extract(LogType::kIis, "d t s GET /a q\0r 80 - 1.2.3.4 ua 200"s);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->subject_b, "q\0r"s);
}

TEST_F(ExtractTest, IisLineWithFewerThanElevenFieldsIsAnError) {
  for (const std::string_view line : {std::string_view(""), std::string_view("   "),
                                      std::string_view("d t s GET /a - 80 - 1.2.3.4 ua")}) {
    try {
      Extract(LogType::kIis, line);
      ADD_FAILURE() << "no error for \"" << line << "\"";
    } catch (const LineError& error) {
      EXPECT_EQ(error.kind(), LineError::Kind::kTooFewFields);
      EXPECT_THAT(error.what(), HasSubstr("11"));
    }
  }
  EXPECT_THAT([&] { Extract(LogType::kIis, "a b c d e f g h i j"); },
              ::testing::ThrowsMessage<LineError>(HasSubstr("只有 10 个")));
  // The address is not looked up for a line that stops the run.
  EXPECT_TRUE(locations_.asked.empty());
}

TEST_F(ExtractTest, HashAnywhereSkipsTheLine) {
  EXPECT_EQ(Extract(LogType::kIis, "#Fields: date time s-ip cs-method"), std::nullopt);
  EXPECT_EQ(Extract(LogType::kIis, "d t s GET /a q=#x 80 - 1.2.3.4 ua 200"), std::nullopt);
  EXPECT_EQ(Extract(LogType::kIis, "#"), std::nullopt);
  EXPECT_EQ(Extract(LogType::kTomcat, "1.2.3.4 - - [t] \"GET /a#b HTTP/1.1\" 200 5"), std::nullopt);
  EXPECT_EQ(Extract(LogType::kApache, "1.2.3.4 - - [t] \"GET /a HTTP/1.1\" 200 5 #"), std::nullopt);
  EXPECT_TRUE(locations_.asked.empty());
}

// Tomcat/Weblogic and Apache/Nginx ---------------------------------------------------------

constexpr std::string_view kCommonLine =
    "1.2.3.4 - Frank [10/Oct/2000:13:55:36 -0700] \"GET /Shop.JSP?id=2 HTTP/1.1\" 200 2326";
constexpr std::string_view kCombinedLine =
    "1.2.3.4 - - [10/Oct/2000:13:55:36 -0700] \"GET /a.php?x=1 HTTP/1.1\" 200 2326 "
    "\"http://ref.example/\" \"Mozilla/5.0 (X11; Linux)\"";

TEST_F(ExtractTest, TomcatCommonLayout) {
  EXPECT_EQ(Extract(LogType::kTomcat, kCommonLine),
            (Extracted{"1.2.3.4 中国北京 - frank [10/oct/2000:13:55:36 -0700] \"get "
                       "/shop.jsp?id=2 http/1.1\" 200 2326",
                       "get /shop.jsp?id=2 http/1.1\"", "", "200"}));
}

TEST_F(ExtractTest, TomcatRequestRunsToTheLastQuoteAndStatusComesFromTheEnd) {
  const auto got = Extract(LogType::kTomcat, kCombinedLine);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->subject_a,
            "get /a.php?x=1 http/1.1\" 200 2326 \"http://ref.example/\" \"mozilla/5.0 (x11; "
            "linux)\"");
  EXPECT_EQ(got->status, "");
  const auto with_tail = Extract(LogType::kTomcat, std::string(kCombinedLine) + " 0.25");
  ASSERT_TRUE(with_tail);
  EXPECT_EQ(with_tail->status, "0.2");
  const auto one_after = Extract(LogType::kTomcat, std::string(kCombinedLine) + " 7");
  ASSERT_TRUE(one_after);
  EXPECT_EQ(one_after->status, "7");
}

TEST_F(ExtractTest, StatusCountsCharactersNotBytes) {
  auto got = Extract(LogType::kTomcat, "1.2.3.4 - - [t] \"GET / HTTP/1.1\"中200 5");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->status, "200");
  got = Extract(LogType::kTomcat, "1.2.3.4 - - [t] \"GET / HTTP/1.1\" 中文字x");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->status, "中文字");
  got = Extract(LogType::kApache, "1.2.3.4 - - [t] \"GET / HTTP/1.1\" 二〇〇 5");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->status, "二〇〇");
}

TEST_F(ExtractTest, ApacheCommonLayout) {
  EXPECT_EQ(Extract(LogType::kApache, kCommonLine),
            (Extracted{"1.2.3.4 中国北京 - frank [10/oct/2000:13:55:36 -0700] \"get "
                       "/shop.jsp?id=2 http/1.1\" 200 2326",
                       "get /shop.jsp?id=2 http/1.1", "", "200"}));
}

TEST_F(ExtractTest, ApacheCombinedLayoutGivesTheRequestStatus) {
  const auto got = Extract(LogType::kApache, kCombinedLine);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->subject_a, "get /a.php?x=1 http/1.1");
  EXPECT_EQ(got->status, "200");
}

// Lower-casing works on blocks of bytes: every printable byte and a multi-byte character,
// at every offset against the blocks, come out as one byte at a time would make them.
TEST_F(ExtractTest, LowerCasingMatchesBytewiseAtEveryOffset) {
  std::string bytes;
  for (char c = '!'; c <= '~'; ++c) {
    if (c != '"' && c != '#') bytes += c;  // a quote ends the request, "#" skips the line
  }
  bytes += "\xC3\x89\xC3\xA9";  // É é: only ASCII letters change
  for (std::size_t pad = 0; pad < 40; ++pad) {
    const std::string target = "/" + std::string(pad, 'Q') + bytes;
    std::string expected = "get " + target + " http/1.1";
    for (char& c : expected) c = LowerAscii(c);
    const auto got =
        Extract(LogType::kApache, "1.2.3.4 - - [t] \"GET " + target + " HTTP/1.1\" 200 5");
    ASSERT_TRUE(got) << pad;
    EXPECT_EQ(got->subject_a, expected) << pad;
  }
}

TEST_F(ExtractTest, OnlyApacheRequiresProtocolOnePointOne) {
  const std::string http10 = "1.2.3.4 - - [t] \"GET /a HTTP/1.0\" 200 5";
  EXPECT_EQ(Extract(LogType::kApache, http10), std::nullopt);
  EXPECT_EQ(Extract(LogType::kApache, "1.2.3.4 - - [t] \"GET /a HTTP/2.0\" 200 5"), std::nullopt);
  const auto tomcat = Extract(LogType::kTomcat, http10);
  ASSERT_TRUE(tomcat);
  EXPECT_EQ(tomcat->subject_a, "get /a http/1.0\"");
  // "/1.1" right after the opening quote leaves no request before it.
  EXPECT_EQ(Extract(LogType::kApache, "1.2.3.4 - - [t] \"/1.1\" 200 5"), std::nullopt);
  const auto shortest = Extract(LogType::kApache, "1.2.3.4 - - [t] \"x/1.1\" 200 5");
  ASSERT_TRUE(shortest);
  EXPECT_EQ(shortest->subject_a, "x/1.1");
}

TEST_F(ExtractTest, ApacheRequestMayHoldQuotes) {
  const auto got = Extract(LogType::kApache, "1.2.3.4 - - [t] \"GET /?q=\"a\" HTTP/1.1\" 302 5");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->subject_a, "get /?q=\"a\" http/1.1");
  EXPECT_EQ(got->status, "302");
}

TEST_F(ExtractTest, ApacheStatusWhenTheRequestHoldsTheClientAddress) {
  // The request gains the location too, so it is no longer in the output line as it was;
  // the status is still the one behind it.
  const auto got =
      Extract(LogType::kApache, "1.2.3.4 - - [t] \"GET /?ip=1.2.3.4 HTTP/1.1\" 200 17");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->line, "1.2.3.4 中国北京 - - [t] \"get /?ip=1.2.3.4 中国北京 http/1.1\" 200 17");
  EXPECT_EQ(got->subject_a, "get /?ip=1.2.3.4 http/1.1");
  EXPECT_EQ(got->status, "200");
}

TEST_F(ExtractTest, QuotedTypesSkipLinesOfTheWrongShape) {
  for (const LogType type : {LogType::kTomcat, LogType::kApache}) {
    SCOPED_TRACE(static_cast<int>(type));
    EXPECT_EQ(Extract(type, "1.2.3.4\t- - [t] \"GET / HTTP/1.1\" 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "host.example - - [t] \"GET / HTTP/1.1\" 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1.2.3 - - [t] \"GET / HTTP/1.1\" 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1.2.3.4.5 - - [t] \"GET / HTTP/1.1\" 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1..2.3 - - [t] \"GET / HTTP/1.1\" 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1.2.3.256 - - [t] \"GET / HTTP/1.1\" 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1.2.3.4 - - [t] GET / HTTP/1.1 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1.2.3.4 - - [t] \"GET / HTTP/1.1 200 5"), std::nullopt);
    EXPECT_EQ(Extract(type, "1.2.3.4"), std::nullopt);
    EXPECT_EQ(Extract(type, ""), std::nullopt);
  }
  EXPECT_TRUE(locations_.asked.empty());
}

TEST_F(ExtractTest, TrailingDotAddressPassesAndIsLookedUpAsWritten) {
  const auto got = Extract(LogType::kApache, "1.2.3.4. - - [t] \"GET / HTTP/1.1\" 200 5");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->line, "1.2.3.4. 点结尾 - - [t] \"get / http/1.1\" 200 5");
  EXPECT_EQ(locations_.asked, std::vector<std::string>{"1.2.3.4."});
}

TEST_F(ExtractTest, QuotedTypesInsertAfterEveryOccurrence) {
  const auto got = Extract(LogType::kTomcat,
                           "1.2.3.4 - - [t] \"GET / HTTP/1.1\" 200 5 \"http://1.2.3.4/\" \"ua\"");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->line,
            "1.2.3.4 中国北京 - - [t] \"get / http/1.1\" 200 5 \"http://1.2.3.4 中国北京/\" "
            "\"ua\"");
}

TEST_F(ExtractTest, ExtractorReusesItsBuffersAcrossLines) {
  LineExtractor extractor(LogType::kApache, locator_);
  const auto first = extractor.ExtractLogLine(kCombinedLine);
  ASSERT_TRUE(first);
  const std::string first_line(first->Line);
  ASSERT_FALSE(extractor.ExtractLogLine("no address here"));
  const auto third = extractor.ExtractLogLine(kCommonLine);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->SubjectA, "get /shop.jsp?id=2 http/1.1");
  EXPECT_EQ(third->StatusText, "200");
  const auto again = extractor.ExtractLogLine(kCombinedLine);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Line, first_line);
}

TEST_F(ExtractTest, LongLineWithManyOccurrences) {
  std::string line = "1.2.3.4 - - [t] \"GET /?";
  for (int i = 0; i < 20000; ++i) line += "1.2.3.4&";
  line += " HTTP/1.1\" 200 5";
  const auto got = Extract(LogType::kApache, line);
  ASSERT_TRUE(got);
  EXPECT_EQ(got->status, "200");
  EXPECT_EQ(got->line.size(), line.size() + 20001 * std::string_view(" 中国北京").size());
}

}  // namespace
}  // namespace ostrel
