#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace ostrel {

// The request headers every transfer sends.
inline constexpr char kUpdateUserAgent[] = "Mozilla/3.0 (compatible; Indy Library)";
inline constexpr char kUpdateAccept[] =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

// Limits of one transfer.
struct TransferOptions {
  // Time allowed for the TCP (and TLS) connection.
  std::chrono::milliseconds connect_timeout{10000};
  // A transfer that receives nothing for this long is abandoned (whole seconds, at least 1).
  std::chrono::seconds stall_timeout{30};
  // Upper bound for the whole transfer; zero means none.
  std::chrono::seconds total_timeout{1800};
  // A response body above this many bytes is refused.
  std::uint64_t max_body_bytes = std::uint64_t{256} << 20;
};

// Called during a transfer with the expected body size (0 while unknown) and the bytes
// received so far; returning false cancels the transfer. Runs on the transferring thread.
using TransferProgress = std::function<bool(std::int64_t total, std::int64_t now)>;

enum class TransferStatus {
  kOk,
  kBadUrl,         // not an http:// or https:// address
  kConnectFailed,  // name resolution or connection failed
  kHttpError,      // an answer other than 2xx
  kRedirect,       // a 3xx answer; redirects are never followed
  kTimeout,        // connect, stall or total time-out
  kTooLarge,       // the body exceeded TransferOptions::max_body_bytes
  kCancelled,      // the progress callback asked to stop
  kWriteFailed,    // the target file could not be written
  kFailed,         // any other transfer error
};

struct TransferResult {
  TransferStatus status = TransferStatus::kFailed;
  long http_code = 0;   // the server's status code, 0 when none arrived
  std::string message;  // a readable reason, empty on success

  bool ok() const { return status == TransferStatus::kOk; }
};

// Where a transfer's body goes (defined in the implementation).
class TransferSink;

// True for an address whose scheme is http or https (any case).
bool IsHttpUrl(const std::string& url);

// An HTTP/1.1 client over one libcurl handle, reused for every transfer it makes (so
// cookies set by the server live as long as the client). Sends User-Agent kUpdateUserAgent
// and Accept kUpdateAccept, no proxy, no authentication, no ranges, no compression; follows
// no redirect; fetches only http and https addresses. Not thread-safe: use one client per
// thread.
class HttpClient {
 public:
  explicit HttpClient(TransferOptions options = {});
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // GETs `url` and gives the body in `body` (cleared first; left empty on failure).
  TransferResult DownloadToMemory(const std::string& url, std::string& body,
                                  const TransferProgress& progress = {});

  // GETs `url` into `path`. The body goes to a temporary file in the same folder that
  // replaces `path` only when the whole transfer succeeded, so a failed or cancelled
  // transfer leaves an existing file untouched and no partial file behind.
  TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                                const TransferProgress& progress = {});

 private:
  TransferResult Perform(const std::string& url, TransferSink& sink,
                         const TransferProgress& progress);

  struct CurlDeleter {
    void operator()(void* handle) const;
  };
  TransferOptions options_;
  std::unique_ptr<void, CurlDeleter> curl_;
};

// One-off transfers through a fresh client; see HttpClient for the behaviour.
TransferResult DownloadToMemory(const std::string& url, std::string& body,
                                const TransferOptions& options = {},
                                const TransferProgress& progress = {});
TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferOptions& options = {},
                              const TransferProgress& progress = {});

}  // namespace ostrel
