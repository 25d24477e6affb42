#ifndef ZEPH_WALLPAPER_STORE_IDLE_ENTRY_H_
#define ZEPH_WALLPAPER_STORE_IDLE_ENTRY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"

namespace zeph {

/// The screen-saver idle entry: the dictionary under "Idle" in a slot of the
/// wallpaper store. zephIdleNode() builds one that selects the installed saver
/// at saverDest; selectsInstalledSaver() is the one test of whether an entry
/// does, and everything that decides on an entry (the rewrite, the re-count,
/// the status and removal commands) uses it.

/// The provider of legacy .saver bundles.
inline constexpr const char* kScreenSaverProvider = "com.apple.wallpaper.choice.screen-saver";

/// A fresh entry selecting saverDest, dated now ("LastSet" read first, then "LastUse").
plist::Dictionary zephIdleNode();

/// Whether `entry` selects the saver installed at saverDest: it is a
/// dictionary whose "Content" → "Choices" array holds a choice dictionary
/// whose module configuration's URL is a file URL (host empty or
/// "localhost", no query or fragment) whose percent-decoded path, less one
/// trailing slash, is saverDest exactly. An entry naming a zeph.saver in
/// another home, another bundle or an image is not the installed saver. Never throws.
bool selectsInstalledSaver(const plist::Dictionary* entry);

/// A looser hint for looking at stores copied from other Macs, where
/// saverDest means nothing: some choice's module URL contains "zeph.saver"
/// and every choice is a dictionary. Only `zeph-store show` counts with it;
/// nothing is decided on it. An absent entry is not the saver's. Never throws.
bool isZeph(const plist::Dictionary* entry);

/// The absolute path a file URL names: "file:" then "//" and an empty or
/// "localhost" host, or a path right away; percent-decoded, one trailing
/// slash dropped. None for anything else, a query or fragment included.
std::optional<std::string> filePathOfUrl(std::string_view url);

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
