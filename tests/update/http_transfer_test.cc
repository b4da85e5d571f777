#include "update/http_transfer.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/update/test_server.h"

namespace ostrel {
namespace {

using testing::FolderEntries;
using testing::LocalHttpServer;
using testing::ReadWholeFile;
using testing::SilentServer;
using testing::TempFolder;
using testing::WriteWholeFile;

// Short limits so failing cases end quickly.
TransferOptions QuickOptions() {
  TransferOptions options;
  options.connect_timeout = std::chrono::milliseconds(1000);
  options.stall_timeout = std::chrono::seconds(1);
  options.total_timeout = std::chrono::seconds(20);
  return options;
}

class HttpTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& server = server_.server();
    server.Get("/hello", [this](const httplib::Request& request, httplib::Response& response) {
      const std::lock_guard lock(mutex_);
      user_agent_ = request.get_header_value("User-Agent");
      accept_ = request.get_header_value("Accept");
      response.set_content("hello body", "text/plain");
    });
    server.Get("/big", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(std::string(200000, 'b'), "application/octet-stream");
    });
    server.Get("/chunked", [](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("application/octet-stream",
                                            [](size_t offset, httplib::DataSink& sink) {
                                              if (offset >= 20000) {
                                                sink.done();
                                                return true;
                                              }
                                              const std::string block(1000, 'c');
                                              return sink.write(block.data(), block.size());
                                            });
    });
    server.Get("/moved", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/target");
    });
    server.Get("/target", [this](const httplib::Request&, httplib::Response& response) {
      ++target_hits_;
      response.set_content("target", "text/plain");
    });
    server.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
      // Announces 100000 bytes, sends 1000, then drops the connection.
      response.set_content_provider(100000, "application/octet-stream",
                                    [](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset > 0) return false;
                                      const std::string block(1000, 'p');
                                      return sink.write(block.data(), block.size());
                                    });
    });
    server.Get("/set", [](const httplib::Request&, httplib::Response& response) {
      response.set_header("Set-Cookie", "session=abc; Path=/");
      response.set_content("set", "text/plain");
    });
    server.Get("/echo", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(request.get_header_value("Cookie"), "text/plain");
    });
    ASSERT_TRUE(server_.Start());
  }

  LocalHttpServer server_;
  TempFolder folder_;
  std::mutex mutex_;
  std::string user_agent_;
  std::string accept_;
  std::atomic<int> target_hits_{0};
};

TEST_F(HttpTransferTest, SendsTheFixedHeadersAndGivesTheBody) {
  HttpClient client(QuickOptions());
  std::string body;
  const TransferResult result = client.DownloadToMemory(server_.Url("/hello"), body);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.http_code, 200);
  EXPECT_EQ(body, "hello body");
  const std::lock_guard lock(mutex_);
  EXPECT_EQ(user_agent_, "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(accept_, "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
}

TEST_F(HttpTransferTest, NotFoundFailsAndLeavesTheOldFile) {
  HttpClient client(QuickOptions());
  const auto path = folder_.path() / "file.dat";
  WriteWholeFile(path, "old");
  const TransferResult result = client.DownloadToFile(server_.Url("/missing"), path);
  EXPECT_EQ(result.status, TransferStatus::kHttpError);
  EXPECT_EQ(result.http_code, 404);
  EXPECT_EQ(ReadWholeFile(path), "old");
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"file.dat"});
}

TEST_F(HttpTransferTest, RedirectIsNotFollowed) {
  HttpClient client(QuickOptions());
  std::string body;
  const TransferResult result = client.DownloadToMemory(server_.Url("/moved"), body);
  EXPECT_EQ(result.status, TransferStatus::kRedirect);
  EXPECT_EQ(result.http_code, 302);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(target_hits_.load(), 0);
}

TEST_F(HttpTransferTest, TransferFailingMidwayLeavesTheOldFileIntact) {
  HttpClient client(QuickOptions());
  const auto path = folder_.path() / "file.dat";
  WriteWholeFile(path, "old contents");
  const TransferResult result = client.DownloadToFile(server_.Url("/broken"), path);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(ReadWholeFile(path), "old contents");
  EXPECT_EQ(FolderEntries(folder_.path()), std::vector<std::string>{"file.dat"});
}

TEST_F(HttpTransferTest, BodyAboveTheCapIsRefused) {
  TransferOptions options = QuickOptions();
  options.max_body_bytes = 5000;
  HttpClient client(options);
  std::string body;
  // Once with a length announced in advance, once streamed without one.
  for (const char* target : {"/big", "/chunked"}) {
    const TransferResult result = client.DownloadToMemory(server_.Url(target), body);
    EXPECT_EQ(result.status, TransferStatus::kTooLarge) << target;
    EXPECT_TRUE(body.empty());
  }
  const auto path = folder_.path() / "big.dat";
  EXPECT_EQ(client.DownloadToFile(server_.Url("/chunked"), path).status, TransferStatus::kTooLarge);
  EXPECT_TRUE(FolderEntries(folder_.path()).empty());
}

TEST_F(HttpTransferTest, ProgressReportsTotalAndGrowingCounts) {
  HttpClient client(QuickOptions());
  std::vector<std::pair<std::int64_t, std::int64_t>> events;
  const auto path = folder_.path() / "big.dat";
  const TransferResult result =
      client.DownloadToFile(server_.Url("/big"), path, [&](std::int64_t total, std::int64_t now) {
        events.emplace_back(total, now);
        return true;
      });
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(std::filesystem::file_size(path), 200000u);
  ASSERT_FALSE(events.empty());
  for (std::size_t i = 1; i < events.size(); ++i) {
    EXPECT_GE(events[i].second, events[i - 1].second);
  }
  EXPECT_EQ(events.back(), std::make_pair(std::int64_t{200000}, std::int64_t{200000}));
}

TEST_F(HttpTransferTest, CancelledTransferLeavesNoFile) {
  HttpClient client(QuickOptions());
  const auto path = folder_.path() / "big.dat";
  int calls = 0;
  const TransferResult result =
      client.DownloadToFile(server_.Url("/big"), path, [&](std::int64_t, std::int64_t) {
        ++calls;
        return false;
      });
  EXPECT_EQ(result.status, TransferStatus::kCancelled);
  EXPECT_GE(calls, 1);
  EXPECT_TRUE(FolderEntries(folder_.path()).empty());
}

TEST_F(HttpTransferTest, CookiesLiveAsLongAsTheClient) {
  HttpClient client(QuickOptions());
  std::string body;
  ASSERT_TRUE(client.DownloadToMemory(server_.Url("/set"), body).ok());
  ASSERT_TRUE(client.DownloadToMemory(server_.Url("/echo"), body).ok());
  EXPECT_EQ(body, "session=abc");
}

TEST(HttpTransferFailureTest, ServerThatNeverAnswersTimesOut) {
  SilentServer silent;
  ASSERT_GT(silent.port(), 0);
  HttpClient client(QuickOptions());
  std::string body;
  const TransferResult result = client.DownloadToMemory(silent.Url("/update.ini"), body);
  EXPECT_EQ(result.status, TransferStatus::kTimeout) << result.message;
}

TEST(HttpTransferFailureTest, ClosedPortFailsToConnect) {
  int port = 0;
  {
    SilentServer closed;
    port = closed.port();
  }
  HttpClient client(QuickOptions());
  std::string body;
  const TransferResult result =
      client.DownloadToMemory("http://127.0.0.1:" + std::to_string(port) + "/x", body);
  EXPECT_EQ(result.status, TransferStatus::kConnectFailed) << result.message;
}

TEST(HttpTransferFailureTest, OnlyHttpAndHttpsAddressesAreFetched) {
  TempFolder folder;
  HttpClient client(QuickOptions());
  for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "gopher://127.0.0.1/",
                          "127.0.0.1/update.ini", ""}) {
    std::string body;
    EXPECT_EQ(client.DownloadToMemory(url, body).status, TransferStatus::kBadUrl) << url;
    EXPECT_EQ(DownloadToFile(url, folder.path() / "x", QuickOptions()).status,
              TransferStatus::kBadUrl);
  }
  EXPECT_TRUE(IsHttpUrl("HTTP://example.invalid/"));
  EXPECT_TRUE(IsHttpUrl("https://example.invalid/"));
  EXPECT_TRUE(FolderEntries(folder.path()).empty());
}

}  // namespace
}  // namespace ostrel
