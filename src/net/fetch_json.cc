#include "net/fetch_json.h"

#include <curl/curl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/process_locale.h"
#include "base/process_values.h"
#include "base/system_effects.h"
#include "net/curl_library.h"
#include "net/fetch_json_internal.h"

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
// Process end: a worker may still be inside libcurl when the caller has
// left. Workers are counted, and the first one registers an exit handler that
// waits for the count to reach zero, within a bound, so that the process does
// not tear down under a running transfer. CURLOPT_QUICK_EXIT keeps
// curl_easy_cleanup from waiting on a stuck resolver thread where libcurl
// (7.87 and later) knows it. The caller's own wait stays bounded either way.
//
// Options: every curl_easy_setopt result is checked; a transfer whose options
// did not all take is not started, as it would run with curl's defaults (any
// protocol, no time limit).
//
// Headers: only "User-Agent" is set; curl adds its defaults ("Host",
// "Accept: */*") as any client does. Redirects and proxies follow curl's
// defaults. SIGPIPE: with CURLOPT_NOSIGNAL curl no longer ignores it, so the
// worker blocks it for itself; a write to a closed socket then fails with EPIPE
// instead of ending the process.

namespace zeph {
namespace {

using Clock = std::chrono::steady_clock;

// Options by number: the bit-mask form of the protocol limit is deprecated in
// the headers we build with but is all that libcurl before 7.85 takes
// (early macOS 13), and QUICK_EXIT is newer than some SDKs' headers.
constexpr CURLoption kProtocolsMask = static_cast<CURLoption>(CURLOPTTYPE_LONG + 181);
constexpr CURLoption kQuickExit = static_cast<CURLoption>(CURLOPTTYPE_LONG + 322);

// The workers still running, for the wait at process end.
struct WorkerCount {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
  bool exitWaitRegistered = false;
};

// Never destroyed: a worker may finish while the process is ending.
WorkerCount& workerCount() {
  static WorkerCount* const count = new WorkerCount;
  return *count;
}

// Set when the process starts to end: every transfer stops at its next progress call.
std::atomic<bool> processEnding{false};

// How long the process end waits for workers. An abandoned transfer stops at
// its next progress call, which libcurl makes at least once a second.
constexpr std::chrono::seconds kExitWait{2};

void waitForWorkersAtExit() {
  processEnding.store(true);
  (void)detail::waitForLookupWorkers(kExitWait);
}

// What the caller and its worker share. Guarded by `mutex`.
struct Exchange {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;               // the worker has stored its result
  JsonReply result;                    // set once, by the worker
  std::atomic<bool> abandoned{false};  // the caller stopped waiting
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
  if (transfer->exchange->abandoned.load() || processEnding.load()) return 1;
  return Clock::now() >= transfer->deadline ? 1 : 0;
}

struct CurlEasyDeleter {
  const CurlLibrary* lib;
  void operator()(CURL* handle) const { lib->easyCleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
  const CurlLibrary* lib;
  void operator()(curl_slist* list) const { lib->slistFreeAll(list); }
};
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Only HTTP and HTTPS. The list by name is libcurl 7.85 and later; older ones
// take the bit mask. When neither takes, false: no lookup rather than one
// that would follow any protocol.
bool limitToHttp(const CurlLibrary& lib, CURL* h) {
  if (lib.easySetopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK) return true;
  return lib.easySetopt(h, kProtocolsMask, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS)) == CURLE_OK;
}

// Sets every option of the GET; false when one of them was refused.
bool configure(const CurlLibrary& lib, CURL* h, const std::string& url, curl_slist* headers, long timeoutMs,
               Transfer& transfer) {
  auto set = [&](CURLoption option, auto value) { return lib.easySetopt(h, option, value) == CURLE_OK; };
  // Refused by libcurl before 7.87, which then waits for its resolver on cleanup as it always did.
  (void)set(kQuickExit, 1L);
  return set(CURLOPT_URL, url.c_str()) && set(CURLOPT_HTTPGET, 1L) && set(CURLOPT_HTTPHEADER, headers) &&
         // The loopback tests speak plain HTTP; the product's addresses are HTTPS.
         limitToHttp(lib, h) && set(CURLOPT_SSL_VERIFYPEER, 1L) && set(CURLOPT_SSL_VERIFYHOST, 2L) &&
         set(CURLOPT_NOSIGNAL, 1L) && set(CURLOPT_TIMEOUT_MS, timeoutMs) &&
         set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(detail::kMaxJsonBody)) &&
         set(CURLOPT_WRITEFUNCTION, writeBody) && set(CURLOPT_WRITEDATA, &transfer) &&
         set(CURLOPT_NOPROGRESS, 0L) && set(CURLOPT_XFERINFOFUNCTION, checkDeadline) &&
         set(CURLOPT_XFERINFODATA, &transfer);
}

// Runs the GET; no value on any failure. Never throws.
JsonReply perform(const CurlLibrary& lib, const std::string& url, const std::string& userAgent,
                  long timeoutMs, const Exchange& exchange) noexcept {
  try {
    CurlEasy curl(lib.easyInit(), CurlEasyDeleter{&lib});
    if (!curl) return {};
    CurlSlist headers(lib.slistAppend(nullptr, ("User-Agent: " + userAgent).c_str()), CurlSlistDeleter{&lib});
    if (!headers) return {};

    Transfer transfer;
    transfer.deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    transfer.exchange = &exchange;

    CURL* h = curl.get();
    if (!configure(lib, h, url, headers.get(), timeoutMs, transfer)) return {};

    // A transfer that failed part-way has no complete body to trust.
    if (lib.easyPerform(h) != CURLE_OK || transfer.tooLarge) return {};
    JsonReply reply;
    // The status does not decide the value: an error page that is JSON is
    // the value, and the status says what it is.
    if (lib.easyGetinfo(h, CURLINFO_RESPONSE_CODE, &reply.httpStatus) != CURLE_OK) reply.httpStatus = 0;
    nlohmann::json parsed = nlohmann::json::parse(transfer.body, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !(parsed.is_object() || parsed.is_array())) return reply;
    reply.value = std::move(parsed);
    return reply;
  } catch (...) {
    return {};
  }
}

void workerMain(const CurlLibrary* lib, std::shared_ptr<Exchange> exchange, std::string url,
                std::string userAgent, long timeoutMs) noexcept {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  JsonReply result = perform(*lib, url, userAgent, timeoutMs, *exchange);
  {
    std::lock_guard<std::mutex> lock(exchange->mutex);
    exchange->result = std::move(result);
    exchange->finished = true;
    exchange->done.notify_all();
  }
  // Done with libcurl: the process may end from here on.
  WorkerCount& count = workerCount();
  std::lock_guard<std::mutex> lock(count.mutex);
  --count.running;
  count.idle.notify_all();
}

// Counts a worker about to start; registers the wait at process end with the first.
void countWorkerStarting() {
  WorkerCount& count = workerCount();
  std::lock_guard<std::mutex> lock(count.mutex);
  if (!count.exitWaitRegistered) {
    // Without the handler the process end would not wait; a worker then
    // cannot be started either.
    if (std::atexit(waitForWorkersAtExit) != 0) throw std::runtime_error("atexit failed");
    count.exitWaitRegistered = true;
  }
  ++count.running;
}

void countWorkerNotStarted() {
  WorkerCount& count = workerCount();
  std::lock_guard<std::mutex> lock(count.mutex);
  --count.running;
  count.idle.notify_all();
}

constexpr std::chrono::milliseconds kWaitCheckInterval{50};

// Seconds as a bounded, positive count of milliseconds; none for NaN.
std::optional<long> toMilliseconds(double seconds) {
  if (std::isnan(seconds)) return std::nullopt;
  constexpr double kDay = 86400;
  return static_cast<long>(std::ceil(std::clamp(seconds, 0.001, kDay) * 1000));
}

}  // namespace

namespace {

JsonReply fetchReplyWithin(const std::string& url, double transferSeconds, double waitSeconds,
                           const CurlLibrary& curl, const WaitCheck& callerCheck = {}) {
  std::optional<long> transferMs = toMilliseconds(transferSeconds);
  std::optional<long> waitMs = toMilliseconds(waitSeconds);
  if (!transferMs || !waitMs) return {};

  // Before the first worker exists: setlocale() must not run beside one.
  ensureProcessLocale();
  auto exchange = std::make_shared<Exchange>();
  try {
    countWorkerStarting();
  } catch (...) {
    return {};
  }
  try {
    std::thread(workerMain, &curl, exchange, url, installerUserAgent, *transferMs).detach();
  } catch (...) {
    countWorkerNotStarted();
    return {};
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(*waitMs);

  std::unique_lock<std::mutex> lock(exchange->mutex);
  const WaitCheck& replaced = systemEffects().keepWaitingForLookup;
  const WaitCheck keepWaiting = replaced ? replaced : callerCheck;  // kept: the table may change meanwhile
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
    return {};
  }
  return std::move(exchange->result);
}

}  // namespace

namespace detail {

std::optional<nlohmann::json> fetchJSONWithin(const std::string& url, double transferSeconds,
                                              double waitSeconds, const CurlLibrary& curl) {
  return fetchReplyWithin(url, transferSeconds, waitSeconds, curl).value;
}

JsonReply fetchJSONReplyWithin(const std::string& url, double transferSeconds, double waitSeconds,
                               const WaitCheck& keepWaiting) {
  // Loaded on the calling (main) thread, before any worker exists.
  const CurlLibrary* curl = curlLibrary();
  if (!curl) return {};
  return fetchReplyWithin(url, transferSeconds, waitSeconds, *curl, keepWaiting);
}

std::optional<nlohmann::json> fetchJSONWithin(const std::string& url, double transferSeconds,
                                              double waitSeconds) {
  return fetchJSONReplyWithin(url, transferSeconds, waitSeconds).value;
}

bool waitForLookupWorkers(std::chrono::milliseconds bound) {
  WorkerCount& count = workerCount();
  std::unique_lock<std::mutex> lock(count.mutex);
  return count.idle.wait_for(lock, bound, [&] { return count.running == 0; });
}

}  // namespace detail

std::optional<nlohmann::json> fetchJSON(const std::string& url, double timeoutSeconds,
                                        const WaitCheck& keepWaiting) {
  return fetchJSONReply(url, timeoutSeconds, keepWaiting).value;
}

JsonReply fetchJSONReply(const std::string& url, double timeoutSeconds, const WaitCheck& keepWaiting) {
  return detail::fetchJSONReplyWithin(url, timeoutSeconds, timeoutSeconds + 2, keepWaiting);
}

bool answered(const JsonReply& reply) {
  return reply.value.has_value() && reply.httpStatus >= 200 && reply.httpStatus < 300;
}

}  // namespace zeph
