#include "net/fetch_json.h"

#include <curl/curl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "net/curl_library.h"
#include "net/fetch_json_internal.h"
#include "base/process_values.h"

// How the wait is bounded: the transfer runs on a worker thread of its own,
// and the caller waits on a condition variable until a deadline on the steady
// clock, so no server behaviour (slow headers, a trickling body, a stalled TLS
// handshake, a name lookup that hangs) can hold the caller past it. The worker
// shares nothing with the caller but a reference-counted Exchange, so a worker
// that finishes late writes into a slot nobody reads any more and frees it.
// curl's own time limit (and a progress callback) end the worker soon after,
// including during name resolution when curl has the threaded resolver, as
// the Debian and Apple builds do.
//
// Headers: only "User-Agent" is set; curl adds its defaults ("Host",
// "Accept: */*") as any client does. Redirects and proxies follow curl's
// defaults. SIGPIPE: with CURLOPT_NOSIGNAL curl no longer ignores it, so the
// worker blocks it for itself; a write to a closed socket then fails with EPIPE
// instead of ending the process.

namespace zeph {
namespace {

using Clock = std::chrono::steady_clock;

// What the caller and its worker share. Guarded by `mutex`.
struct Exchange {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;                 // the worker has stored its result
  std::optional<nlohmann::json> result;  // set once, by the worker
  std::atomic<bool> abandoned{false};    // the caller stopped waiting
};

struct Transfer {
  std::string body;
  bool tooLarge = false;
  Clock::time_point deadline;
  const Exchange* exchange = nullptr;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (transfer->body.size() + n > detail::kMaxJsonBody) {
    transfer->tooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  try {
    transfer->body.append(data, n);
  } catch (...) {
    return CURL_WRITEFUNC_ERROR;
  }
  return n;
}

int checkDeadline(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  if (transfer->exchange->abandoned.load()) return 1;
  return Clock::now() >= transfer->deadline ? 1 : 0;
}

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curlLibrary()->easyCleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curlLibrary()->slistFreeAll(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Runs the GET; none on any failure. Never throws.
std::optional<nlohmann::json> perform(const std::string& url, const std::string& userAgent,
                                      long timeoutMs, const Exchange& exchange) noexcept {
  try {
    const CurlLibrary& lib = *curlLibrary();  // loaded by the caller before this thread started
    CurlEasy curl(lib.easyInit());
    if (!curl) return std::nullopt;
    CurlSlist headers(lib.slistAppend(nullptr, ("User-Agent: " + userAgent).c_str()));
    if (!headers) return std::nullopt;

    Transfer transfer;
    transfer.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    transfer.exchange = &exchange;

    CURL* h = curl.get();
    lib.easySetopt(h, CURLOPT_URL, url.c_str());
    lib.easySetopt(h, CURLOPT_HTTPGET, 1L);
    lib.easySetopt(h, CURLOPT_HTTPHEADER, headers.get());
    // The loopback tests speak plain HTTP; the product's addresses are HTTPS.
    lib.easySetopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    lib.easySetopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    lib.easySetopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    lib.easySetopt(h, CURLOPT_NOSIGNAL, 1L);
    lib.easySetopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    lib.easySetopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(detail::kMaxJsonBody));
    lib.easySetopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    lib.easySetopt(h, CURLOPT_WRITEDATA, &transfer);
    lib.easySetopt(h, CURLOPT_NOPROGRESS, 0L);
    lib.easySetopt(h, CURLOPT_XFERINFOFUNCTION, checkDeadline);
    lib.easySetopt(h, CURLOPT_XFERINFODATA, &transfer);

    // The status is not looked at: an error page that is JSON is the result.
    // A transfer that failed part-way has no complete body to trust.
    if (lib.easyPerform(h) != CURLE_OK || transfer.tooLarge) return std::nullopt;
    nlohmann::json parsed = nlohmann::json::parse(transfer.body, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !(parsed.is_object() || parsed.is_array())) return std::nullopt;
    return parsed;
  } catch (...) {
    return std::nullopt;
  }
}

void workerMain(std::shared_ptr<Exchange> exchange, std::string url, std::string userAgent,
                long timeoutMs) noexcept {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  std::optional<nlohmann::json> result = perform(url, userAgent, timeoutMs, *exchange);
  std::lock_guard<std::mutex> lock(exchange->mutex);
  exchange->result = std::move(result);
  exchange->finished = true;
  exchange->done.notify_all();
}

// The check of the innermost ScopedFetchWaitCheck; main thread only.
const std::function<bool()>* waitCheck = nullptr;
constexpr std::chrono::milliseconds kWaitCheckInterval{50};

// Seconds as a bounded, positive count of milliseconds; none for NaN.
std::optional<long> toMilliseconds(double seconds) {
  if (std::isnan(seconds)) return std::nullopt;
  constexpr double kDay = 86400;
  return static_cast<long>(std::ceil(std::clamp(seconds, 0.001, kDay) * 1000));
}

}  // namespace

namespace detail {

std::optional<nlohmann::json> fetchJSONWithin(const std::string& url, double transferSeconds,
                                              double waitSeconds) {
  // Loaded on the calling (main) thread, before any worker exists.
  if (!curlLibrary()) return std::nullopt;

  std::optional<long> transferMs = toMilliseconds(transferSeconds);
  std::optional<long> waitMs = toMilliseconds(waitSeconds);
  if (!transferMs || !waitMs) return std::nullopt;

  auto exchange = std::make_shared<Exchange>();
  try {
    std::thread(workerMain, exchange, url, installerUserAgent, *transferMs).detach();
  } catch (...) {
    return std::nullopt;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(*waitMs);

  std::unique_lock<std::mutex> lock(exchange->mutex);
  std::function<bool()> keepWaiting = waitCheck != nullptr ? *waitCheck : nullptr;
  while (!exchange->finished && Clock::now() < deadline) {
    Clock::time_point until = keepWaiting ? std::min(deadline, Clock::now() + kWaitCheckInterval) : deadline;
    exchange->done.wait_until(lock, until, [&] { return exchange->finished; });
    if (exchange->finished || !keepWaiting) continue;
    // The check may draw and read the terminal: not while holding the lock.
    lock.unlock();
    bool keep = keepWaiting();
    lock.lock();
    if (!keep) break;
  }
  if (!exchange->finished) {
    exchange->abandoned.store(true);
    return std::nullopt;
  }
  return std::move(exchange->result);
}

}  // namespace detail

ScopedFetchWaitCheck::ScopedFetchWaitCheck(std::function<bool()> keepWaiting)
    : keepWaiting_(std::move(keepWaiting)), previous_(waitCheck) {
  waitCheck = &keepWaiting_;
}

ScopedFetchWaitCheck::~ScopedFetchWaitCheck() { waitCheck = previous_; }

std::optional<nlohmann::json> fetchJSON(const std::string& url, double timeoutSeconds) {
  return detail::fetchJSONWithin(url, timeoutSeconds, timeoutSeconds + 2);
}

}  // namespace zeph
