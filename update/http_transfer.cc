#include "update/http_transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <string_view>

#include "update/atomic_file.h"

namespace ostrel {

// Where a transfer's body goes.
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  virtual bool Write(std::string_view bytes, std::string* error) = 0;
};

namespace {

class MemorySink final : public TransferSink {
 public:
  explicit MemorySink(std::string& body) : body_(body) {}
  bool Write(std::string_view bytes, std::string*) override {
    body_.append(bytes);
    return true;
  }

 private:
  std::string& body_;
};

class FileSink final : public TransferSink {
 public:
  explicit FileSink(AtomicFile& file) : file_(file) {}
  bool Write(std::string_view bytes, std::string* error) override {
    return file_.Write(bytes, error);
  }

 private:
  AtomicFile& file_;
};

// The state the libcurl callbacks share with Perform.
struct TransferState {
  CURL* curl = nullptr;
  TransferSink* sink = nullptr;
  const TransferProgress* progress = nullptr;
  std::uint64_t max_body_bytes = 0;
  std::uint64_t received = 0;
  bool status_checked = false;
  bool bad_status = false;
  bool too_large = false;
  bool cancelled = false;
  bool write_failed = false;
  std::string write_error;
};

bool IsSuccess(long code) { return code >= 200 && code <= 299; }

size_t WriteCallback(char* data, size_t size, size_t count, void* user) {
  auto& state = *static_cast<TransferState*>(user);
  const size_t bytes = size * count;
  if (!state.status_checked) {
    // The body of an error page or a redirect is never wanted: stop at its first byte.
    state.status_checked = true;
    long code = 0;
    curl_easy_getinfo(state.curl, CURLINFO_RESPONSE_CODE, &code);
    if (!IsSuccess(code)) {
      state.bad_status = true;
      return 0;
    }
  }
  if (state.received + bytes > state.max_body_bytes) {
    state.too_large = true;
    return 0;
  }
  state.received += bytes;
  if (!state.sink->Write(std::string_view(data, bytes), &state.write_error)) {
    state.write_failed = true;
    return 0;
  }
  return bytes;
}

int ProgressCallback(void* user, curl_off_t download_total, curl_off_t download_now, curl_off_t,
                     curl_off_t) {
  auto& state = *static_cast<TransferState*>(user);
  if (state.progress == nullptr || !*state.progress) return 0;
  // libcurl also calls back about once a second while nothing arrives, which is what lets
  // a cancellation take effect during a stall.
  if (!(*state.progress)(static_cast<std::int64_t>(download_total),
                         static_cast<std::int64_t>(download_now))) {
    state.cancelled = true;
    return 1;
  }
  return 0;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

bool IsHttpUrl(const std::string& url) {
  const auto starts_with = [&](std::string_view prefix) {
    if (url.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      const char c = url[i];
      const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      if (lower != prefix[i]) return false;
    }
    return true;
  };
  return starts_with("http://") || starts_with("https://");
}

namespace {

// Only http and https are fetched; anything else fails as kBadUrl before any I/O.
bool CheckHttpUrl(const std::string& url, TransferResult& result) {
  if (IsHttpUrl(url)) return true;
  result.status = TransferStatus::kBadUrl;
  result.message = "not an http or https address: " + url;
  return false;
}

}  // namespace

void HttpClient::CurlDeleter::operator()(void* handle) const {
  curl_easy_cleanup(static_cast<CURL*>(handle));
}

HttpClient::HttpClient(TransferOptions options) : options_(options), curl_(curl_easy_init()) {
  // The in-memory cookie engine, started once: cookies live as long as this client.
  if (curl_) curl_easy_setopt(static_cast<CURL*>(curl_.get()), CURLOPT_COOKIEFILE, "");
}

HttpClient::~HttpClient() = default;

TransferResult HttpClient::Perform(const std::string& url, TransferSink& sink,
                                   const TransferProgress& progress) {
  TransferResult result;
  if (!CheckHttpUrl(url, result)) return result;
  CURL* curl = static_cast<CURL*>(curl_.get());
  if (curl == nullptr) {
    result.message = "the HTTP client could not be initialised";
    return result;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headers(
      curl_slist_append(nullptr, (std::string("Accept: ") + kUpdateAccept).c_str()));
  if (!headers) {
    result.message = "out of memory";
    return result;
  }

  TransferState state;
  state.curl = curl;
  state.sink = &sink;
  state.progress = &progress;
  state.max_body_bytes = options_.max_body_bytes;
  char error_buffer[CURL_ERROR_SIZE] = {};

  // Every option is set again for each transfer instead of a reset, which would leak the
  // cookie engine's start-up list.
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kUpdateUserAgent);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  // An empty proxy disables the proxy environment variables too.
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  // Signals cannot be used for time-outs in a program with threads.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(std::max<std::int64_t>(1, options_.connect_timeout.count())));
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>(std::max<std::int64_t>(1, options_.stall_timeout.count())));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(options_.total_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(std::min<std::uint64_t>(
                       options_.max_body_bytes, static_cast<std::uint64_t>(INT64_MAX))));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteCallback);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &ProgressCallback);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);

  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.http_code);
  // The buffer and the state die with this call; keep the handle from pointing at them.
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);

  const std::string reason = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
  if (state.cancelled) {
    result.status = TransferStatus::kCancelled;
    result.message = "cancelled";
  } else if (state.too_large || code == CURLE_FILESIZE_EXCEEDED) {
    result.status = TransferStatus::kTooLarge;
    result.message = "the answer exceeds " + std::to_string(options_.max_body_bytes) + " bytes";
  } else if (state.write_failed) {
    result.status = TransferStatus::kWriteFailed;
    result.message = state.write_error;
  } else if (state.bad_status || (code == CURLE_OK && !IsSuccess(result.http_code))) {
    const bool redirect = result.http_code >= 300 && result.http_code <= 399;
    result.status = redirect ? TransferStatus::kRedirect : TransferStatus::kHttpError;
    result.message =
        (redirect ? "redirect not followed: HTTP " : "HTTP ") + std::to_string(result.http_code);
  } else if (code == CURLE_OK) {
    result.status = TransferStatus::kOk;
  } else if (code == CURLE_OPERATION_TIMEDOUT) {
    result.status = TransferStatus::kTimeout;
    result.message = reason;
  } else if (code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST ||
             code == CURLE_COULDNT_RESOLVE_PROXY) {
    result.status = TransferStatus::kConnectFailed;
    result.message = reason;
  } else if (code == CURLE_UNSUPPORTED_PROTOCOL || code == CURLE_URL_MALFORMAT) {
    result.status = TransferStatus::kBadUrl;
    result.message = reason;
  } else {
    result.status = TransferStatus::kFailed;
    result.message = reason;
  }
  return result;
}

TransferResult HttpClient::DownloadToMemory(const std::string& url, std::string& body,
                                            const TransferProgress& progress) {
  body.clear();
  MemorySink sink(body);
  TransferResult result = Perform(url, sink, progress);
  if (!result.ok()) {
    body.clear();
    body.shrink_to_fit();
  }
  return result;
}

TransferResult HttpClient::DownloadToFile(const std::string& url, const std::filesystem::path& path,
                                          const TransferProgress& progress) {
  TransferResult result;
  if (!CheckHttpUrl(url, result)) return result;
  AtomicFile file;
  if (!file.Open(path, &result.message)) {
    result.status = TransferStatus::kWriteFailed;
    return result;
  }
  FileSink sink(file);
  result = Perform(url, sink, progress);
  if (result.ok() && !file.Commit(&result.message)) {
    result.status = TransferStatus::kWriteFailed;
  }
  return result;
}

TransferResult DownloadToMemory(const std::string& url, std::string& body,
                                const TransferOptions& options, const TransferProgress& progress) {
  HttpClient client(options);
  return client.DownloadToMemory(url, body, progress);
}

TransferResult DownloadToFile(const std::string& url, const std::filesystem::path& path,
                              const TransferOptions& options, const TransferProgress& progress) {
  HttpClient client(options);
  return client.DownloadToFile(url, path, progress);
}

}  // namespace ostrel
