#include "update/ini_file.h"

#include <sys/stat.h>

#include <string>

#include "gtest/gtest.h"
#include "tests/update/test_server.h"

namespace ostrel {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WriteWholeFile;

TEST(IniFileTest, SectionsInFileOrderAndNamesWithoutCase) {
  const IniFile ini = IniFile::Parse(
      "; comment\n[Zeta]\nName = z.dat \n[alpha]\n  ver=\t5\n[ZETA]\nname=later\n[Mid]\n");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(ini.ReadString("zeta", "NAME", "-"), "z.dat");
  EXPECT_EQ(ini.ReadInteger("ALPHA", "Ver", 0), 5);
  EXPECT_TRUE(ini.HasSection("mid"));
  EXPECT_EQ(ini.ReadString("Mid", "Name", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("nowhere", "Name", "fallback"), "fallback");
}

TEST(IniFileTest, ValuesAreUnquotedAndCutAfter2047Characters) {
  const std::string long_ascii(3000, 'a');
  std::string long_cjk;
  for (int i = 0; i < 2100; ++i) long_cjk += "文";
  const IniFile ini = IniFile::Parse("[s]\nq=\"quoted value\"\nascii=" + long_ascii +
                                     "\ncjk=" + long_cjk + "\nexact=" + std::string(2047, 'b'));
  EXPECT_EQ(ini.ReadString("s", "q", ""), "quoted value");
  EXPECT_EQ(ini.ReadString("s", "ascii", ""), std::string(2047, 'a'));
  EXPECT_EQ(ini.ReadString("s", "cjk", "").size(), 2047u * 3);
  EXPECT_EQ(ini.ReadString("s", "exact", ""), std::string(2047, 'b'));
}

TEST(IniFileTest, BrokenTextNeverFailsAndKeepsWhatIsReadable) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) % 256);
  const std::string cases[] = {
      "",
      "no sections here\nkey=value\n",
      "[unterminated\nName=x\n",
      "[]\n=\n==\n[s]\n=novalue\nkey\n",
      std::string("[s]\nName=a\0b\n", 12),
      garbage,
      std::string(10 << 20, 'x'),
  };
  for (const std::string& text : cases) {
    const IniFile ini = IniFile::Parse(text);
    for (const std::string& section : ini.SectionNames()) {
      (void)ini.ReadString(section, "Name", "");
      (void)ini.ReadInteger(section, "Ver", 0);
    }
  }
  const IniFile unterminated = IniFile::Parse("[unterminated\nName=x\n");
  EXPECT_EQ(unterminated.ReadString("unterminated", "name", ""), "x");
  const IniFile keys_first = IniFile::Parse("Name=orphan\n[s]\nName=kept\n");
  EXPECT_EQ(keys_first.SectionNames(), std::vector<std::string>{"s"});
  EXPECT_EQ(keys_first.ReadString("s", "Name", ""), "kept");
}

TEST(IniFileTest, ReadsUtf16WithByteOrderMark) {
  // "[s]\r\nName=文\r\n" in UTF-16 little endian.
  const std::string text("\xFF\xFE[\0s\0]\0\r\0\n\0N\0a\0m\0e\0=\0\x87\x65\r\0\n\0", 28);
  const IniFile ini = IniFile::Parse(text);
  EXPECT_EQ(ini.ReadString("S", "name", ""), "文");
}

TEST(IniFileTest, TextThatLooksLikeAByteOrderMarkSurvivesARoundTrip) {
  IniFile ini = IniFile::Parse("\xEF\xBB\xBF\xFF\xFE[a]\n[b]\nVer=1\n");
  ini.WriteString("b", "Ver", "2");
  EXPECT_EQ(IniFile::Parse(ini.ToText()).ReadInteger("B", "Ver", 0), 2);
}

TEST(IniFileTest, ReadsGbkTextThatIsNotUtf8) {
  // "[s]\nName=升级.dat\n" with the name in GBK, and a byte that is neither.
  const IniFile ini = IniFile::Parse("[s]\nName=\xC9\xFD\xBC\xB6.dat\nBad=\xFF\n");
  EXPECT_EQ(ini.ReadString("s", "Name", ""), "升级.dat");
  EXPECT_EQ(ini.ReadString("s", "Bad", ""), "\xEF\xBF\xBD");
}

struct IntegerCase {
  const char* text;
  std::optional<std::int32_t> value;
};

class ProfileIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ProfileIntegerTest, Reads) {
  EXPECT_EQ(ParseProfileInteger(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, ProfileIntegerTest,
    ::testing::Values(IntegerCase{"10", 10}, IntegerCase{"+7", 7}, IntegerCase{"-5", -5},
                      IntegerCase{"0x10", 16}, IntegerCase{"0X1f", 31}, IntegerCase{"$FF", 255},
                      IntegerCase{"-$10", -16}, IntegerCase{"$FFFFFFFF", -1},
                      IntegerCase{"2147483647", 2147483647},
                      IntegerCase{"-2147483648", std::numeric_limits<std::int32_t>::min()},
                      IntegerCase{"2147483648", std::nullopt}, IntegerCase{"", std::nullopt},
                      IntegerCase{"0x", std::nullopt}, IntegerCase{"$", std::nullopt},
                      IntegerCase{"-", std::nullopt}, IntegerCase{"12a", std::nullopt},
                      IntegerCase{"abc", std::nullopt}, IntegerCase{"1.5", std::nullopt},
                      IntegerCase{"0x100000000", std::nullopt},
                      IntegerCase{"99999999999999999999", std::nullopt}));

TEST(IniFileTest, ReadIntegerFallsBackForMissingOrNonNumbers) {
  const IniFile ini = IniFile::Parse("[s]\nVer=abc\nHex=0x10\n");
  EXPECT_EQ(ini.ReadInteger("s", "Ver", 0), 0);
  EXPECT_EQ(ini.ReadInteger("s", "Missing", -3), -3);
  EXPECT_EQ(ini.ReadInteger("s", "hex", 0), 16);
}

TEST(IniFileTest, WritingChangesOnlyItsLine) {
  IniFile ini = IniFile::Parse("; keep me\r\n[A]\r\nVER=1\r\nOther=x\r\n\r\n; about b\r\n[b]\r\n");
  ini.WriteString("a", "ver", "2");
  ini.WriteString("B", "Ver", "3");
  ini.WriteString("New_Section", "Ver", "4");
  ini.WriteString("a", "Added", "5");
  EXPECT_EQ(ini.ToText(),
            "; keep me\r\n[A]\r\nVER=2\r\nOther=x\r\nAdded=5\r\n\r\n; about b\r\n[b]\r\nVer=3\r\n"
            "[New_Section]\r\nVer=4\r\n");
  ini.WriteString("c", "k", "line\nbreak");
  EXPECT_EQ(ini.ReadString("c", "k", ""), "line break");
}

TEST(IniFileTest, SaveReplacesAtomicallyAndLoadReadsBack) {
  TempFolder folder;
  const auto path = folder.path() / "update.ini";
  WriteWholeFile(path, "[old]\nVer=1\n");
  std::string error;
  std::optional<IniFile> loaded = IniFile::Load(path, &error);
  ASSERT_TRUE(loaded) << error;
  IniFile ini = std::move(*loaded);
  ini.WriteString("x_dat", "Ver", "16");
  ASSERT_TRUE(ini.Save(path, &error)) << error;
  EXPECT_EQ(ReadWholeFile(path), "[old]\nVer=1\n[x_dat]\nVer=16\n");
  EXPECT_EQ(testing::FolderEntries(folder.path()), std::vector<std::string>{"update.ini"});
}

TEST(IniFileTest, LoadAndSaveReportFailures) {
  TempFolder folder;
  std::string error;
  EXPECT_FALSE(IniFile::Load(folder.path() / "missing.ini", &error));
  EXPECT_NE(error.find("missing.ini"), std::string::npos);
  EXPECT_FALSE(IniFile::Load(folder.path(), &error));

  // A folder in the way of the file: the save fails and leaves nothing behind.
  const auto blocked = folder.path() / "update.ini";
  std::filesystem::create_directory(blocked);
  EXPECT_FALSE(IniFile::Parse("[a]\nVer=1\n").Save(blocked, &error));
  EXPECT_NE(error.find("update.ini"), std::string::npos);
  EXPECT_EQ(testing::FolderEntries(folder.path()), std::vector<std::string>{"update.ini"});
  EXPECT_FALSE(IniFile::Parse("[a]\n").Save(folder.path() / "no" / "such" / "folder.ini", &error));
}

}  // namespace
}  // namespace ostrel
