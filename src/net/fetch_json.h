#ifndef ZEPH_NET_FETCH_JSON_H_
#define ZEPH_NET_FETCH_JSON_H_

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace zeph {

/// GETs `url` with the installer's User-Agent and returns the body when it is
/// a JSON object or array, whatever the HTTP status; none on every failure.
/// The caller waits at most timeoutSeconds + 2 seconds. Never throws.
std::optional<nlohmann::json> fetchJSON(const std::string& url, double timeoutSeconds = 8);

}  // namespace zeph

#endif  // ZEPH_NET_FETCH_JSON_H_
