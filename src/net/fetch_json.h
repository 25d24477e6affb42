#ifndef ZEPH_NET_FETCH_JSON_H_
#define ZEPH_NET_FETCH_JSON_H_

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zeph {

/// Asked about every 50 ms on the waiting thread while a fetch waits for its
/// reply; false calls the lookup off (the user skipped it).
using WaitCheck = std::function<bool()>;

/// GETs `url` with the installer's User-Agent and returns the body when it is
/// a JSON object or array, whatever the HTTP status; none on every failure.
/// The caller waits at most timeoutSeconds + 2 seconds, and gives none at once
/// when `keepWaiting` (the effects table's keepWaitingForLookup when that is
/// set) answers false. Never throws.
std::optional<nlohmann::json> fetchJSON(const std::string& url, double timeoutSeconds = 8,
                                        const WaitCheck& keepWaiting = {});

/// What fetchJSON returns, with the HTTP status it came with, so that a
/// caller can tell a server's error page from an answer.
struct JsonReply {
  std::optional<nlohmann::json> value;  // as fetchJSON returns it
  long httpStatus = 0;                  // 0 when no whole reply arrived
};

/// fetchJSON with the reply's HTTP status beside the value.
JsonReply fetchJSONReply(const std::string& url, double timeoutSeconds = 8,
                         const WaitCheck& keepWaiting = {});

/// Whether `reply` is the server's answer: a JSON value that came with a
/// success status (2xx). False for no network, a timeout, a wait called
/// off, an HTTP error and a body that is not JSON.
bool answered(const JsonReply& reply);

}  // namespace zeph

#endif  // ZEPH_NET_FETCH_JSON_H_
