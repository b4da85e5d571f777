// Runs every case of tests/data/golden/cases.tsv over the real rules and IP database and
// compares the result file byte for byte with the approved one. With the environment
// variable OSTREL_APPROVE_GOLDEN=1 it writes the approved files instead
// (scripts/approve-golden).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/options.h"
#include "engine/run.h"
#include "engine/run_tuning.h"
#include "ipdb/qqwry.h"

namespace ostrel {
namespace {

namespace fs = std::filesystem;

struct GoldenCase {
  std::string name;
  std::string type;
  std::string options;
  std::string input;

  std::string ExpectedFile() const { return name + "." + type + "." + options + ".expected.log"; }
};

const fs::path kGoldenDir = fs::path(OSTREL_TEST_DATA) / "golden";

std::vector<GoldenCase> LoadCases() {
  std::vector<GoldenCase> cases;
  std::ifstream in(kGoldenDir / "cases.tsv");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    GoldenCase c;
    std::getline(fields, c.name, '\t');
    std::getline(fields, c.type, '\t');
    std::getline(fields, c.options, '\t');
    std::getline(fields, c.input, '\t');
    cases.push_back(c);
  }
  return cases;
}

RunOptions OptionsOf(const GoldenCase& c) {
  RunOptions options;
  options.log_type = c.type == "iis"      ? LogType::kIis
                     : c.type == "tomcat" ? LogType::kTomcat
                     : c.type == "auto"   ? LogType::kAuto
                                          : LogType::kApache;
  std::istringstream words(c.options);
  for (std::string word; std::getline(words, word, '+');) {
    if (word == "broad") options.rule_set = RuleSet::kBroad;
    if (word == "any-status") options.status_200_only = false;
    if (word == "keep-static") options.drop_static = false;
    if (word == "gbk") options.encoding = ResultEncoding::kGbk;
  }
  return options;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class GoldenTest : public testing::TestWithParam<GoldenCase> {
 protected:
  static void SetUpTestSuite() {
    const fs::path ipdb = fs::path(OSTREL_BINARY_DIR) / "bin" / "QQWry.dat";
    if (fs::exists(ipdb)) reader_ = std::make_unique<TQQWry>(ipdb.string());
  }
  static void TearDownTestSuite() { reader_.reset(); }

  static std::unique_ptr<TQQWry> reader_;
};

std::unique_ptr<TQQWry> GoldenTest::reader_;

TEST_P(GoldenTest, ResultFileMatchesTheApprovedOne) {
  if (!reader_ || !reader_->HasDatabase()) GTEST_SKIP() << "no QQWry.dat in the build's bin/";
  const GoldenCase& c = GetParam();
  const fs::path expected = kGoldenDir / c.ExpectedFile();
  const fs::path result =
      fs::path(testing::TempDir()) / ("ostrel_golden_" + std::to_string(::getpid()) + ".log");
  RunOptions options = OptionsOf(c);
  RunSink sink;
  const char* approve = std::getenv("OSTREL_APPROVE_GOLDEN");
  if (approve != nullptr && std::string(approve) == "1") {
    options.jobs = 1;
    try {
      RunAnalysis({fs::path(OSTREL_SOURCE_DIR) / c.input}, expected, options, *reader_, sink);
    } catch (const RunError&) {
      // A case may stop on an error on purpose; its file holds the hits before it.
    }
    return;
  }
  ASSERT_TRUE(fs::exists(expected)) << expected << " missing: run scripts/approve-golden";
  const std::string approved = ReadBytes(expected);
  // One job and several over tiny blocks: the same bytes either way.
  for (const unsigned jobs : {1u, 3u}) {
    options.jobs = jobs;
    RunTuning tuning;
    tuning.block_bytes = jobs == 1 ? std::size_t{1} << 20 : 512;
    try {
      RunAnalysisTuned({fs::path(OSTREL_SOURCE_DIR) / c.input}, result, options, *reader_, sink, {},
                       tuning);
    } catch (const RunError&) {
      // Compared like a finished run: the hits before the error are the approved ones.
    }
    EXPECT_EQ(ReadBytes(result), approved)
        << c.ExpectedFile() << " with " << jobs << " jobs; if the change is intended, run "
        << "scripts/approve-golden";
  }
  fs::remove(result);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, testing::ValuesIn(LoadCases()),
                         [](const testing::TestParamInfo<GoldenCase>& info) {
                           std::string name = info.param.ExpectedFile();
                           name = name.substr(0, name.size() - std::string(".expected.log").size());
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace ostrel
