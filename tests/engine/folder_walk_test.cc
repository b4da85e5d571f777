#include "engine/folder_walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace ostrel {
namespace {

namespace fs = std::filesystem;

class FolderWalkTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(testing::TempDir()) /
            ("ostrel_walk_" + std::to_string(::getpid()) + "_" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root_ / "locked", fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }
  fs::path Touch(const fs::path& relative) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x\n";
    return path;
  }
  // Position of `path` in `found`, or -1.
  static long IndexOf(const std::vector<fs::path>& found, const fs::path& path) {
    const auto at = std::find(found.begin(), found.end(), path);
    return at == found.end() ? -1 : static_cast<long>(at - found.begin());
  }

  fs::path root_;
};

TEST_F(FolderWalkTest, BreadthFirstOneWholeFolderAtATime) {
  const fs::path top1 = Touch("top1.log");
  const fs::path top2 = Touch("top2.log");
  const fs::path a1 = Touch("a/a1.log");
  const fs::path a2 = Touch("a/a2.log");
  const fs::path b1 = Touch("b/b1.log");
  const fs::path deep = Touch("a/deeper/d1.log");
  const std::vector<fs::path> found = WalkFolder(root_);
  ASSERT_EQ(found.size(), 6u);
  for (const fs::path& path : {top1, top2, a1, a2, b1, deep}) ASSERT_NE(IndexOf(found, path), -1);
  // The root's files first, then each subfolder's files together, then the next level.
  EXPECT_LT(std::max(IndexOf(found, top1), IndexOf(found, top2)),
            std::min({IndexOf(found, a1), IndexOf(found, a2), IndexOf(found, b1)}));
  EXPECT_EQ(std::abs(IndexOf(found, a1) - IndexOf(found, a2)), 1);
  EXPECT_EQ(IndexOf(found, deep), 5);
}

TEST_F(FolderWalkTest, SubfolderOnlyAndHiddenFilesAreListed) {
  const fs::path one = Touch("sub/one.log");
  const fs::path hidden = Touch("sub/.hidden");
  const fs::path in_hidden = Touch(".secret/x.log");
  const std::vector<fs::path> found = WalkFolder(root_);
  EXPECT_EQ(std::set<fs::path>(found.begin(), found.end()),
            (std::set<fs::path>{one, hidden, in_hidden}));
}

TEST_F(FolderWalkTest, EndingIsComparedWithoutCase) {
  const fs::path log = Touch("a.log");
  Touch("a.txt");
  const fs::path upper = Touch("B.LOG");
  const std::vector<fs::path> found = WalkFolder(root_, ".LOG");
  EXPECT_EQ(std::set<fs::path>(found.begin(), found.end()), (std::set<fs::path>{log, upper}));
  EXPECT_EQ(WalkFolder(root_, ".*").size(), 3u);
}

TEST_F(FolderWalkTest, LinksBackToAnAncestorDoNotLoop) {
  const fs::path file = Touch("a/b/f.log");
  fs::create_directory_symlink(root_, root_ / "a" / "b" / "up");
  fs::create_directory_symlink(root_ / "a", root_ / "again");
  const std::vector<fs::path> found = WalkFolder(root_);
  // Whichever name reaches folder a first (listing order decides), its file comes once.
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(fs::equivalent(found[0], file));
}

TEST_F(FolderWalkTest, UnlistableAndMissingFoldersContributeNothing) {
  const fs::path visible = Touch("ok.log");
  Touch("locked/hidden.log");
  fs::permissions(root_ / "locked", fs::perms::none);
  const std::vector<fs::path> found = WalkFolder(root_);
  if (::geteuid() != 0) {
    EXPECT_EQ(found, std::vector<fs::path>{visible});
  }
  EXPECT_TRUE(WalkFolder(root_ / "does-not-exist").empty());
  EXPECT_TRUE(WalkFolder(visible).empty());  // a file is not a folder
}

TEST_F(FolderWalkTest, PipesAreNotLogFilesButDanglingLinksAre) {
  const fs::path file = Touch("a.log");
  ASSERT_EQ(::mkfifo((root_ / "pipe").c_str(), 0600), 0);
  fs::create_symlink(root_ / "gone.log", root_ / "dangling.log");
  const std::vector<fs::path> found = WalkFolder(root_);
  EXPECT_EQ(std::set<fs::path>(found.begin(), found.end()),
            (std::set<fs::path>{file, root_ / "dangling.log"}));
}

}  // namespace
}  // namespace ostrel
