#include "ipdb/gbk.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel {
namespace {

using namespace std::string_literals;

struct Conversion {
  std::string input;
  std::string expected;
};

class GbkToUtf8Test : public ::testing::TestWithParam<Conversion> {};

TEST_P(GbkToUtf8Test, Decodes) { EXPECT_EQ(GbkToUtf8(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Vectors, GbkToUtf8Test,
    ::testing::Values(Conversion{"", ""}, Conversion{"plain ASCII 1.2.3.4", "plain ASCII 1.2.3.4"},
                      Conversion{"\xD6\xD0\xB9\xFA", "中国"},
                      Conversion{"IP\xBF\xE2\xB2\xBB\xB4\xE6\xD4\xDA", "IP库不存在"},
                      // GB18030 four-byte form, beyond GBK: U+0080.
                      Conversion{"\x81\x30\x81\x30", "\u0080"},
                      // Each undecodable byte is one U+FFFD; decoding resumes after it.
                      Conversion{"a\xFF"
                                 "b",
                                 "a\uFFFD"
                                 "b"},
                      Conversion{"\x80\x80", "\uFFFD\uFFFD"},
                      // A lead byte followed by a byte that cannot trail it.
                      Conversion{"\xD6\x7F", "\uFFFD\x7F"},
                      // A lead byte cut off at the end.
                      Conversion{"\xD6\xD0\xB9", "中\uFFFD"}, Conversion{"x\0y"s, "x\0y"s}));

TEST(GbkTest, RoundTripsDatabaseTexts) {
  for (const std::string_view text : {"美国加利福尼亚州圣克拉拉县山景市", "本机地址", "局域网 IP",
                                      "2024年01月17日IP数据", "IANA保留地址"}) {
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk(text)), text);
  }
}

class Utf8ToGbkTest : public ::testing::TestWithParam<Conversion> {};

TEST_P(Utf8ToGbkTest, Encodes) { EXPECT_EQ(Utf8ToGbk(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Vectors, Utf8ToGbkTest,
                         ::testing::Values(Conversion{"", ""},
                                           Conversion{"GET /a?b=1", "GET /a?b=1"},
                                           Conversion{"中国", "\xD6\xD0\xB9\xFA"},
                                           // GBK cannot hold it: one '?' for the whole character.
                                           Conversion{"a\U0001F600b", "a?b"},
                                           // Invalid UTF-8: one '?' per byte.
                                           Conversion{"a\xFF"
                                                      "b",
                                                      "a?b"},
                                           Conversion{"\xE4\xB8", "??"},
                                           Conversion{"\xED\xA0\x80", "???"}));

struct Utf8Case {
  std::string text;
  bool valid;
};

class IsValidUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(IsValidUtf8Test, Judges) { EXPECT_EQ(IsValidUtf8(GetParam().text), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(
    Vectors, IsValidUtf8Test,
    ::testing::Values(Utf8Case{"", true}, Utf8Case{"ascii only, longer than eight bytes", true},
                      Utf8Case{"中国 and 😀", true}, Utf8Case{"\xC2\x80", true},
                      Utf8Case{"\xEF\xBF\xBF", true}, Utf8Case{"\xF4\x8F\xBF\xBF", true},
                      Utf8Case{"nul\0inside"s, true}, Utf8Case{"\xC0\x80", false},  // overlong NUL
                      Utf8Case{"\xC1\xBF", false},                                  // overlong
                      Utf8Case{"\xE0\x9F\xBF", false},      // overlong three-byte
                      Utf8Case{"\xF0\x8F\xBF\xBF", false},  // overlong four-byte
                      Utf8Case{"\xED\xA0\x80", false},      // surrogate
                      Utf8Case{"\xED\xBF\xBF", false},      // surrogate
                      Utf8Case{"\xF4\x90\x80\x80", false},  // above U+10FFFF
                      Utf8Case{"\xF5\x80\x80\x80", false}, Utf8Case{"\x80", false},
                      Utf8Case{"\xE4\xB8", false},                  // cut off
                      Utf8Case{"eight ok\xE4\xB8\xAD\xE4", false},  // cut off after a chunk
                      Utf8Case{"\xD6\xD0\xB9\xFA", false},          // GBK bytes
                      Utf8Case{"0123456789abcdef\xFF", false}));    // after the fast path

}  // namespace
}  // namespace ostrel
