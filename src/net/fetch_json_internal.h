#ifndef ZEPH_NET_FETCH_JSON_INTERNAL_H_
#define ZEPH_NET_FETCH_JSON_INTERNAL_H_

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>

namespace zeph::detail {

/// Largest body fetchJSON reads; a longer one gives none.
inline constexpr std::size_t kMaxJsonBody = 1 << 20;

/// fetchJSON with the two bounds apart: the transfer gives up after
/// `transferSeconds`, the caller stops waiting after `waitSeconds`.
/// fetchJSON(url, t) is fetchJSONWithin(url, t, t + 2). Tests use a wait
/// shorter than the transfer to see a reply land after its caller has left.
std::optional<nlohmann::json> fetchJSONWithin(const std::string& url, double transferSeconds,
                                              double waitSeconds);

}  // namespace zeph::detail

#endif  // ZEPH_NET_FETCH_JSON_INTERNAL_H_
