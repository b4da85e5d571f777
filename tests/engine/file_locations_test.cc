#include "engine/file_locations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace ostrel {
namespace {

namespace fs = std::filesystem;

// A temporary folder holding an installed tree: prefix/bin, prefix/share/ostrel and
// prefix/share/doc/ostrel, as the install rules lay it out.
class FileLocationsTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(testing::TempDir()) /
            ("ostrel_locations_" + std::to_string(::getpid()) + "_" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(bin());
    fs::create_directories(share());
    fs::create_directories(root_ / "prefix/share/doc/ostrel");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path bin() const { return root_ / "prefix/bin"; }
  fs::path share() const { return root_ / "prefix/share/ostrel"; }
  static void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  }

  fs::path root_;
};

TEST_F(FileLocationsTest, WritableFolderWithoutInstalledTreeIsPortable) {
  const fs::path exe = root_ / "build/bin";
  fs::create_directories(exe);
  const FileLocations locations = FileLocations::Decide(exe, {"/d", "/a", "/h"});
  EXPECT_TRUE(locations.portable());
  EXPECT_EQ(locations.data_dir(), exe);
  EXPECT_EQ(locations.ipdb_dirs(), std::vector<fs::path>{exe});
  EXPECT_EQ(locations.ResultFile(), exe / "1.log");
  EXPECT_EQ(locations.HelpFile(), exe / "help.html");
}

TEST_F(FileLocationsTest, UnwritableFolderUsesTheXdgFolders) {
  // A folder the process cannot write to, even as root: it does not exist.
  const fs::path exe = root_ / "missing/bin";
  const FileLocations locations = FileLocations::Decide(exe, {"", "", "/h"});
  EXPECT_FALSE(locations.portable());
  EXPECT_EQ(locations.data_dir(), "/h/.local/share/ostrel");
  EXPECT_EQ(locations.ipdb_dirs(),
            (std::vector<fs::path>{"/h/.local/share/ostrel", "/usr/local/share/ostrel",
                                   "/usr/share/ostrel", exe}));
  EXPECT_EQ(locations.ResultFile(), "/h/.local/share/ostrel/1.log");
}

struct EnvironmentCase {
  const char* name;
  LocationEnvironment environment;
  const char* data_dir;               // "" for none
  std::vector<std::string> xdg_dirs;  // the searched folders before the installed tree's
};

class InstalledTreeTest : public FileLocationsTest,
                          public testing::WithParamInterface<EnvironmentCase> {};

TEST_P(InstalledTreeTest, SearchesXdgFoldersThenTheTreeThenTheProgramFolder) {
  const EnvironmentCase& param = GetParam();
  const FileLocations locations = FileLocations::Decide(bin(), param.environment);
  EXPECT_FALSE(locations.portable());
  EXPECT_EQ(locations.data_dir(), fs::path(param.data_dir));
  std::vector<fs::path> expected(param.xdg_dirs.begin(), param.xdg_dirs.end());
  expected.push_back(share());
  expected.push_back(bin());
  EXPECT_EQ(locations.ipdb_dirs(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, InstalledTreeTest,
    testing::Values(
        EnvironmentCase{
            "AllSet", {"/d", "/a:/b/", "/h"}, "/d/ostrel", {"/d/ostrel", "/a/ostrel", "/b/ostrel"}},
        EnvironmentCase{"Defaults",
                        {"", "", "/h"},
                        "/h/.local/share/ostrel",
                        {"/h/.local/share/ostrel", "/usr/local/share/ostrel", "/usr/share/ostrel"}},
        // The XDG rules: relative paths are ignored.
        EnvironmentCase{"RelativeIgnored",
                        {"rel", "rel2::/usr/share", "/h"},
                        "/h/.local/share/ostrel",
                        {"/h/.local/share/ostrel", "/usr/share/ostrel"}},
        EnvironmentCase{"RepeatsOnce",
                        {"/usr/share", "/usr/share/:/usr/share", "/h"},
                        "/usr/share/ostrel",
                        {"/usr/share/ostrel"}},
        EnvironmentCase{"NoHome", {"", "/a", ""}, "", {"/a/ostrel"}}),
    [](const testing::TestParamInfo<EnvironmentCase>& info) { return info.param.name; });

TEST_F(FileLocationsTest, NoHomeMeansNoDataFolder) {
  const FileLocations locations = FileLocations::Decide(bin(), {"", "", "relative/home"});
  EXPECT_TRUE(locations.ResultFile().empty());
  std::string error;
  EXPECT_FALSE(locations.CreateDataDir(&error));
  EXPECT_NE(error.find("HOME"), std::string::npos) << error;
}

TEST_F(FileLocationsTest, FindsTheFirstDatabaseInSearchOrder) {
  const fs::path home = root_ / "home";
  const FileLocations locations =
      FileLocations::Decide(bin(), {(home / "data").string(), "/nonexistent", ""});
  EXPECT_FALSE(locations.FindIpDatabase());
  Touch(bin() / "QQWry.dat");
  EXPECT_EQ(locations.FindIpDatabase(), bin() / "QQWry.dat");
  Touch(share() / "QQWry.dat");
  EXPECT_EQ(locations.FindIpDatabase(), share() / "QQWry.dat");
  // A folder of that name is no database.
  fs::create_directories(home / "data/ostrel/QQWry.dat");
  EXPECT_EQ(locations.FindIpDatabase(), share() / "QQWry.dat");
  fs::remove(home / "data/ostrel/QQWry.dat");
  Touch(home / "data/ostrel/QQWry.dat");
  EXPECT_EQ(locations.FindIpDatabase(), home / "data/ostrel/QQWry.dat");
}

TEST_F(FileLocationsTest, HelpComesFromTheInstalledDocumentsWhenThere) {
  const FileLocations locations = FileLocations::Decide(bin(), {"", "", "/h"});
  EXPECT_EQ(locations.HelpFile(), bin() / "help.html");
  Touch(root_ / "prefix/share/doc/ostrel/help.html");
  EXPECT_EQ(locations.HelpFile(), root_ / "prefix/share/doc/ostrel/help.html");
}

TEST_F(FileLocationsTest, CreateDataDirMakesPrivateFoldersAndKeepsExistingOnes) {
  const fs::path data_home = root_ / "home/.local/share";
  fs::create_directories(root_ / "home");
  ::chmod((root_ / "home").c_str(), 0755);
  const FileLocations locations = FileLocations::Decide(bin(), {data_home.string(), "", ""});
  std::string error;
  ASSERT_TRUE(locations.CreateDataDir(&error)) << error;
  for (const fs::path& made : {root_ / "home/.local", data_home, data_home / "ostrel"}) {
    struct stat state {};
    ASSERT_EQ(::stat(made.c_str(), &state), 0) << made;
    EXPECT_EQ(state.st_mode & 0777, 0700u) << made;
  }
  struct stat home_state {};
  ASSERT_EQ(::stat((root_ / "home").c_str(), &home_state), 0);
  EXPECT_EQ(home_state.st_mode & 0777, 0755u);
  EXPECT_TRUE(locations.CreateDataDir(&error)) << error;  // a second time is no error
}

TEST_F(FileLocationsTest, CreateDataDirRefusesAFileInTheWay) {
  Touch(root_ / "data/ostrel");
  const FileLocations locations = FileLocations::Decide(bin(), {(root_ / "data").string(), "", ""});
  std::string error;
  EXPECT_FALSE(locations.CreateDataDir(&error));
  EXPECT_NE(error.find((root_ / "data/ostrel").string()), std::string::npos) << error;
}

}  // namespace
}  // namespace ostrel
