#ifndef ZEPH_NET_FETCH_JSON_INTERNAL_H_
#define ZEPH_NET_FETCH_JSON_INTERNAL_H_

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "net/curl_library.h"
#include "net/fetch_json.h"

namespace zeph::detail {

/// Largest body fetchJSON reads; a longer one gives none.
inline constexpr std::size_t kMaxJsonBody = 1 << 20;

/// fetchJSON with the two bounds apart: the transfer gives up after
/// `transferSeconds`, the caller stops waiting after `waitSeconds`.
/// fetchJSON(url, t) is fetchJSONWithin(url, t, t + 2). Tests use a wait
/// shorter than the transfer to see a reply land after its caller has left.
std::optional<nlohmann::json> fetchJSONWithin(const std::string& url, double transferSeconds,
                                              double waitSeconds);

/// fetchJSONWithin through `curl` instead of the loaded libcurl, so that tests
/// can stand in for a libcurl that refuses options. `curl` must outlive every
/// worker (a static), as an abandoned worker goes on using it.
std::optional<nlohmann::json> fetchJSONWithin(const std::string& url, double transferSeconds,
                                              double waitSeconds, const CurlLibrary& curl);

/// fetchJSONWithin with the reply's HTTP status (fetchJSONReply's bounds apart).
JsonReply fetchJSONReplyWithin(const std::string& url, double transferSeconds, double waitSeconds,
                               const WaitCheck& keepWaiting = {});

/// Waits up to `bound` for every lookup worker to finish, the ones whose
/// caller stopped waiting included; true when none is left running. The
/// process end does the same with a bound of its own.
bool waitForLookupWorkers(std::chrono::milliseconds bound);

}  // namespace zeph::detail

#endif  // ZEPH_NET_FETCH_JSON_INTERNAL_H_
