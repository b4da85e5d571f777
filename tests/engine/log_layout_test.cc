#include "engine/log_layout.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/field_cursor.h"
#include "engine/ip_locator.h"
#include "engine/log_line.h"

namespace ostrel {
namespace {

struct NcsaCase {
  std::string name;
  std::string line;  // lower-cased, as the extractor gives it
  SkipReason reason;
  LineLayout layout = LineLayout::kUnknown;
  std::string client = {};
  std::string request = {};
  std::string status = {};
  std::string time = {};
};

class ParseNcsaTest : public testing::TestWithParam<NcsaCase> {};

TEST_P(ParseNcsaTest, Reads) {
  const NcsaCase& c = GetParam();
  NcsaParts parts;
  ASSERT_EQ(ParseNcsaLine(c.line, parts), c.reason);
  if (c.reason != SkipReason::kNone) return;
  EXPECT_EQ(parts.layout, c.layout);
  EXPECT_EQ(parts.client, c.client);
  EXPECT_EQ(parts.request, c.request);
  EXPECT_EQ(parts.status, c.status);
  EXPECT_EQ(parts.time, c.time);
}

constexpr std::string_view kTime = "[02/dec/2026:03:00:01 +0800]";

std::string Line(std::string_view head, std::string_view tail) {
  return std::string(head) + " - - " + std::string(kTime) + " " + std::string(tail);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseNcsaTest,
    testing::Values(
        NcsaCase{"Common", Line("1.2.3.4", "\"get / http/1.0\" 200 5"), SkipReason::kNone,
                 LineLayout::kCommon, "1.2.3.4", "get / http/1.0", "200",
                 "02/dec/2026:03:00:01 +0800"},
        NcsaCase{"Combined", Line("1.2.3.4", "\"get /a?b=1 http/2.0\" 404 5 \"-\" \"ua/1.1\""),
                 SkipReason::kNone, LineLayout::kCombined, "1.2.3.4", "get /a?b=1 http/2.0", "404",
                 "02/dec/2026:03:00:01 +0800"},
        NcsaCase{"GoAgentEndsInOneOne",
                 Line("1.2.3.4", "\"get /x http/2.0\" 200 5 \"-\" \"go-http-client/1.1\""),
                 SkipReason::kNone, LineLayout::kCombined, "1.2.3.4", "get /x http/2.0", "200",
                 "02/dec/2026:03:00:01 +0800"},
        NcsaCase{"Vhost",
                 "www.example.org:443 " + Line("::1", "\"get / http/1.1\" 200 5 \"-\" \"-\""),
                 SkipReason::kNone, LineLayout::kVhostCombined, "::1", "get / http/1.1", "200",
                 "02/dec/2026:03:00:01 +0800"},
        NcsaCase{"EscapedQuoteInRequest",
                 Line("1.2.3.4", "\"get /?q=\\\"x http/1.1\" 200 5 \"-\" \"-\""), SkipReason::kNone,
                 LineLayout::kCombined, "1.2.3.4", "get /?q=\\\"x http/1.1", "200",
                 "02/dec/2026:03:00:01 +0800"},
        NcsaCase{"HttpZeroNine", Line("1.2.3.4", "\"get /shell?cd+/tmp\" 200 5"), SkipReason::kNone,
                 LineLayout::kCommon, "1.2.3.4", "get /shell?cd+/tmp", "200",
                 "02/dec/2026:03:00:01 +0800"},
        NcsaCase{"NoBracketedTime", "1.2.3.4 \"post /api http/1.1\" 201", SkipReason::kNone,
                 LineLayout::kCommon, "1.2.3.4", "post /api http/1.1", "201", ""},
        NcsaCase{"TlsBytes", Line("1.2.3.4", "\"\\x16\\x03\\x01\\x02\" 400 157"),
                 SkipReason::kNotHttp},
        NcsaCase{"Ssh", Line("1.2.3.4", "\"ssh-2.0-go\" 400 0"), SkipReason::kNotHttp},
        NcsaCase{"Http2Preface", Line("1.2.3.4", "\"pri * http/2.0\" 400 0"), SkipReason::kNotHttp},
        NcsaCase{"Dash", Line("1.2.3.4", "\"-\" 400 0"), SkipReason::kNotHttp},
        NcsaCase{"CutOff", Line("1.2.3.4", "\"get /index.php?s=x http/1.1"), SkipReason::kShape},
        NcsaCase{"NoQuote", "2026-12-01 00:00:00 1.2.3.4 get / - 80", SkipReason::kShape}),
    [](const testing::TestParamInfo<NcsaCase>& info) { return info.param.name; });

// Fields are found from bit masks of 64-byte blocks: random prefixes of every length up to
// a few blocks, with every kind of separator, NUL bytes and brackets, give the client and
// time that splitting them byte by byte gives.
TEST(ParseNcsaPrefixTest, MasksAgreeWithSplittingByteByByte) {
  const std::string alphabet = std::string("ab1.:[]-") + ' ' + '\t' + '\x01' + '\x1f' + '\0';
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    std::string prefix(1 + random() % 200, ' ');
    for (char& c : prefix) c = alphabet[random() % alphabet.size()];
    std::vector<std::string_view> fields;
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < prefix.size();) {
      const auto separator = [&](std::size_t i) { return prefix[i] >= 1 && prefix[i] <= 32; };
      while (at < prefix.size() && separator(at)) ++at;
      const std::size_t start = at;
      while (at < prefix.size() && !separator(at)) ++at;
      if (at > start) {
        fields.push_back(std::string_view(prefix).substr(start, at - start));
        starts.push_back(start);
      }
    }
    EXPECT_EQ(CountFields(prefix), fields.size()) << round;
    const std::string line = prefix + "\"get / http/1.1\" 200 5";
    NcsaParts parts;
    if (ParseNcsaLine(line, parts) != SkipReason::kNone) {
      EXPECT_TRUE(fields.empty()) << round;  // only a prefix of separators has no field
      continue;
    }
    std::size_t bracket_field = SIZE_MAX;
    for (std::size_t i = 0; i < fields.size() && bracket_field == SIZE_MAX; ++i) {
      if (fields[i].front() == '[') bracket_field = i;
    }
    const bool vhost = bracket_field == 4;
    EXPECT_EQ(parts.client, vhost ? fields[1] : fields[0]) << round;
    EXPECT_EQ(parts.layout, vhost ? LineLayout::kVhostCombined : LineLayout::kCommon) << round;
    std::string_view time;
    if (bracket_field != SIZE_MAX) {
      const std::size_t at = starts[bracket_field];
      if (const std::size_t close = prefix.find(']', at); close != std::string::npos) {
        time = std::string_view(prefix).substr(at + 1, close - at - 1);
      }
    }
    EXPECT_EQ(parts.time, time) << round;
  }
}

TEST(W3cFieldsTest, DirectiveNamesTheRolesAndTheHeader) {
  const std::optional<W3cFields> fields = W3cFields::FromDirective(
      "#Fields: s-sitename date time cs-method cs-uri-stem cs-uri-query c-ip cs(User-Agent) "
      "sc-status X-Custom\r");
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->count(), 10u);
  EXPECT_EQ(fields->index(W3cFields::kClient), 6u);
  EXPECT_EQ(fields->index(W3cFields::kStatus), 8u);
  EXPECT_EQ(fields->index(W3cFields::kUri), W3cFields::kMissing);
  EXPECT_EQ(fields->ResultHeader(),
            "s-sitename 日期 时间 请求的方法 URI资源 URI查询 客户端IP 物理地址 客户端浏览器 "
            "协议状态 X-Custom");
  EXPECT_FALSE(W3cFields::FromDirective("#Version: 1.0"));
  EXPECT_FALSE(W3cFields::FromDirective("#Fields:"));
  EXPECT_EQ(W3cFields::IisDefault(15)->index(W3cFields::kStatus), 11u);
  EXPECT_EQ(W3cFields::IisDefault(14)->index(W3cFields::kStatus), 10u);
  EXPECT_FALSE(W3cFields::IisDefault(13));
}

TEST(GuessLayoutTest, TheMostCommonLayoutOfTheFirstLines) {
  const std::string combined =
      "1.2.3.4 - - " + std::string(kTime) + " \"GET / HTTP/1.1\" 200 5 \"-\" \"ua\"\n";
  EXPECT_EQ(GuessLayout(combined + combined), LineLayout::kCombined);
  EXPECT_EQ(GuessLayout("vh:80 " + combined), LineLayout::kVhostCombined);
  EXPECT_EQ(GuessLayout("#Software: x\r\n#Fields: date time c-ip\r\n"), LineLayout::kW3c);
  EXPECT_EQ(GuessLayout("2026-12-01 00:00:01 10.0.0.1 GET / - 80 - 8.8.8.8 ua 200 0 0 15\n"),
            LineLayout::kW3c);
  EXPECT_EQ(GuessLayout("hello world\n\x01\x02\x03"), LineLayout::kUnknown);
}

TEST(LastFieldsDirectiveTest, OnlyDirectiveLinesCount) {
  EXPECT_FALSE(LastFieldsDirective("a #Fields: x\n"));
  EXPECT_EQ(*LastFieldsDirective("#Fields: a\nx\n#fields: b c\r\ny"), "#fields: b c\r");
}

// The auto type reads W3C lines with the fields of the last directive, and puts the
// request together as the client sent it.
TEST(AutoExtractTest, W3cLinesFollowTheirDirectives) {
  IpLocator locator([](std::string_view) { return std::string("某地"); });
  LineExtractor extractor(LogType::kAuto, locator);
  SkipReason reason = SkipReason::kNone;
  EXPECT_EQ(extractor.Take("#Fields: date time cs-method cs-uri-stem cs-uri-query c-ip sc-status",
                           reason),
            nullptr);
  EXPECT_EQ(reason, SkipReason::kComment);
  const TLogLine* line = extractor.Take("2026-12-01 10:00:00 GET /A.php x=1 8.8.8.8 200", reason);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->SubjectA, "get /a.php?x=1");
  EXPECT_EQ(line->StatusText, "200");
  EXPECT_EQ(line->Time, "2026-12-01 10:00:00");
  EXPECT_TRUE(extractor.Complete());
  EXPECT_EQ(line->Line, "2026-12-01 10:00:00 get /a.php x=1 8.8.8.8 某地 200");
  line = extractor.Take("2026-12-01 10:00:00 GET /b - - -", reason);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->SubjectA, "get /b");
  EXPECT_EQ(line->StatusText, "");
  EXPECT_TRUE(extractor.Complete());
  EXPECT_EQ(line->Line, "2026-12-01 10:00:00 get /b - - -");  // no address, no location
  EXPECT_EQ(extractor.Take("2026-12-01 10:00:00 GET /b - -", reason), nullptr);
  EXPECT_EQ(reason, SkipReason::kShape);
  // A new directive, as IIS writes after a restart.
  extractor.Take("#Fields: c-ip cs-uri", reason);
  line = extractor.Take("2001:db8::1 /x?y=\"1\"", reason);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->SubjectA, "/x?y=-1-");
  EXPECT_TRUE(extractor.Complete());
  EXPECT_EQ(line->Line, "2001:db8::1 某地 /x?y=-1-");
}

TEST(AutoExtractTest, HashInsideARequestIsNoComment) {
  IpLocator locator([](std::string_view) { return std::string("某地"); });
  LineExtractor extractor(LogType::kAuto, locator);
  SkipReason reason = SkipReason::kNone;
  const TLogLine* line =
      extractor.Take("1.2.3.4 - - [x] \"GET /a#b HTTP/1.1\" 200 5 \"-\" \"ua\"", reason);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->SubjectA, "get /a#b http/1.1");
}

}  // namespace
}  // namespace ostrel
