#ifndef ZEPH_NET_FETCH_JSON_H_
#define ZEPH_NET_FETCH_JSON_H_

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zeph {

/// GETs `url` with the installer's User-Agent and returns the body when it is
/// a JSON object or array, whatever the HTTP status; none on every failure.
/// The caller waits at most timeoutSeconds + 2 seconds. Never throws.
std::optional<nlohmann::json> fetchJSON(const std::string& url, double timeoutSeconds = 8);

/// What fetchJSON returns, with the HTTP status it came with, so that a
/// caller can tell a server's error page from an answer.
struct JsonReply {
  std::optional<nlohmann::json> value;  // as fetchJSON returns it
  long httpStatus = 0;                  // 0 when no whole reply arrived
};

/// fetchJSON with the reply's HTTP status beside the value.
JsonReply fetchJSONReply(const std::string& url, double timeoutSeconds = 8);

/// Whether `reply` is the server's answer: a JSON value that came with a
/// success status (2xx). False for no network, a timeout, a wait called
/// off, an HTTP error and a body that is not JSON.
bool answered(const JsonReply& reply);

/// While an object of this type lives, a fetch that waits for its reply
/// calls `keepWaiting` about every 50 ms on the waiting thread, and gives
/// none at once when it returns false: the user called the lookup off.
class ScopedFetchWaitCheck {
 public:
  explicit ScopedFetchWaitCheck(std::function<bool()> keepWaiting);
  ~ScopedFetchWaitCheck();
  ScopedFetchWaitCheck(const ScopedFetchWaitCheck&) = delete;
  ScopedFetchWaitCheck& operator=(const ScopedFetchWaitCheck&) = delete;

 private:
  std::function<bool()> keepWaiting_;
  const std::function<bool()>* previous_;  // the enclosing check, restored on destruction; may be null
};

}  // namespace zeph

#endif  // ZEPH_NET_FETCH_JSON_H_
