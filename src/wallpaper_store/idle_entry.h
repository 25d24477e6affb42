#ifndef ZEPH_WALLPAPER_STORE_IDLE_ENTRY_H_
#define ZEPH_WALLPAPER_STORE_IDLE_ENTRY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plist/value.h"

namespace zeph {

/// The screen-saver idle entry: the dictionary under "Idle" in a slot of the
/// wallpaper store. zephIdleNode() builds one that selects the installed saver
/// at saverDest; isZeph() recognises one that selects any "zeph.saver" bundle.

/// The provider of legacy .saver bundles.
inline constexpr const char* kScreenSaverProvider = "com.apple.wallpaper.choice.screen-saver";

/// A fresh entry selecting saverDest, dated now ("LastSet" read first, then "LastUse").
plist::Dictionary zephIdleNode();

/// Whether `entry` selects the zeph saver: some choice's module configuration
/// names a URL containing "zeph.saver", and every choice is a dictionary.
/// An absent entry is not the saver's. Never throws.
bool isZeph(const plist::Dictionary* entry);

/// The file URL of the absolute `path` as a file, not a folder: "file://" and
/// the path, every byte that is not an RFC 3986 path character percent-encoded.
std::string fileUrl(const std::string& path);

/// The module configuration of a legacy saver: the binary property list
/// {"module": {"relative": url}}.
std::vector<std::uint8_t> moduleConfiguration(const std::string& url);

/// The "relative" URL of a module configuration held in `configuration`, when
/// it is data decoding to {"module": {"relative": string}}. Never throws.
std::optional<std::string> moduleUrl(const plist::Value& configuration);

}  // namespace zeph

#endif  // ZEPH_WALLPAPER_STORE_IDLE_ENTRY_H_
