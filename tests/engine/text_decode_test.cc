#include "engine/text_decode.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel {
namespace {

// The checks work on blocks of bytes: one byte of another kind (or a CR) anywhere in a
// long line, at every offset against the blocks, is seen.
TEST(DecodeLineTest, ByteOutsideAsciiIsSeenAtEveryOffset) {
  std::string scratch;
  const std::string ascii(150, 'a');
  EXPECT_TRUE(IsAsciiText(ascii));
  for (std::size_t at = 0; at < 140; ++at) {
    std::string utf8 = ascii;
    utf8.replace(at, 2, "\xC3\xA9");  // é, valid UTF-8: given back as it is
    EXPECT_FALSE(IsAsciiText(utf8)) << at;
    EXPECT_EQ(DecodeLine(utf8, scratch), utf8) << at;
    std::string gbk = ascii;
    gbk.replace(at, 2, "\xD6\xD0");  // 中 in GBK: converted
    EXPECT_EQ(DecodeLine(gbk, scratch), ascii.substr(0, at) + "中" + ascii.substr(at + 2)) << at;
    // What the reader hands over: the same, and a CR anywhere is dropped.
    EXPECT_EQ(InputLineText(gbk.data(), gbk.size(), scratch),
              ascii.substr(0, at) + "中" + ascii.substr(at + 2))
        << at;
    EXPECT_EQ(InputLineText(utf8.data(), utf8.size(), scratch), utf8) << at;
    std::string with_cr = ascii;
    with_cr[at] = '\r';
    EXPECT_EQ(InputLineText(with_cr.data(), with_cr.size(), scratch),
              ascii.substr(0, at) + ascii.substr(at + 1))
        << at;
  }
  std::string crlf = ascii + '\r';  // the CR of a CRLF line end
  EXPECT_EQ(InputLineText(crlf.data(), crlf.size(), scratch), ascii);
}

}  // namespace
}  // namespace ostrel
