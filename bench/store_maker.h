#ifndef ZEPH_BENCH_STORE_MAKER_H_
#define ZEPH_BENCH_STORE_MAKER_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "plist/internal/binary_writer.h"
#include "plist/value.h"

/// A large, realistic wallpaper store for the benchmarks, the same for a given seed.
namespace zeph::plist {

class StoreMaker {
 public:
  explicit StoreMaker(std::uint64_t seed) : rng_(seed) {}

  Value store(int spaces, int displays) {
    Dictionary root;
    root.set("SystemDefault", record());
    Dictionary spaceMap;
    std::vector<std::string> displayIds;
    for (int d = 0; d < displays; ++d) displayIds.push_back(d == 0 ? "Main" : uuid());
    for (int s = 0; s < spaces; ++s) {
      Dictionary space;
      space.set("Default", record());
      Dictionary displayMap;
      for (const std::string& id : displayIds) displayMap.set(id, record());
      space.set("Displays", Value(std::move(displayMap)));
      spaceMap.set(s == 0 ? "" : uuid(), Value(std::move(space)));
    }
    root.set("Spaces", Value(std::move(spaceMap)));
    root.set("AllSpacesAndDisplays", Value("$null"));
    root.set("Displays", Value(Dictionary{}));
    return Value(std::move(root));
  }

 private:
  // A slot record: its type and an "Idle" and a "Desktop" entry.
  Value record() {
    Dictionary r;
    r.set("Type", Value("individual"));
    r.set("Idle", entry(true));
    r.set("Desktop", entry(false));
    return Value(std::move(r));
  }

  Value entry(bool idle) {
    static const char* const kSavers[] = {"Flurry", "Arabesque", "Shell",          "zeph",
                                          "Drift",  "Hello",     "Word of the Day"};
    static const char* const kPictures[] = {"Sonoma", "Ventura Graphic", "Big Sur Coastline", "Monterey",
                                            "Sequoia Sunrise"};
    Dictionary choice;
    std::string provider;
    Dictionary config;
    int pick = static_cast<int>(rng_() % 4);
    if (idle && pick < 3) {
      provider = "com.apple.wallpaper.choice.screen-saver";
      Dictionary module;
      std::string name = kSavers[rng_() % std::size(kSavers)];
      module.set("relative",
                 Value("file:///Users/" + user() + "/Library/Screen%20Savers/" + name + ".saver"));
      config.set("module", Value(std::move(module)));
    } else if (pick < 2) {
      provider = "com.apple.wallpaper.choice.image";
      Dictionary url;
      std::string name = kPictures[rng_() % std::size(kPictures)];
      url.set("relative", Value("file:///System/Library/Desktop%20Pictures/" + name + " " +
                                std::to_string(rng_() % 1000) + ".heic"));
      config.set("type", Value("imageFile"));
      config.set("url", Value(std::move(url)));
    } else {
      provider = "com.apple.wallpaper.choice.aerials";
      config.set("assetID", Value(uuid()));
    }
    choice.set("Provider", Value(provider));
    choice.set("Configuration", Value(writeBinary(Value(std::move(config)))));
    choice.set("Files", Value(Array{}));
    Dictionary content;
    content.set("Choices", Value(Array{Value(std::move(choice))}));
    content.set("Shuffle", Value("$null"));
    Dictionary e;
    e.set("Content", Value(std::move(content)));
    double lastSet =
        6.0e8 + static_cast<double>(rng_() % 200'000'000) + static_cast<double>(rng_() % 1000) / 1000;
    e.set("LastSet", Value(Date{lastSet}));
    e.set("LastUse", Value(Date{lastSet + static_cast<double>(rng_() % 5'000'000) + 0.25}));
    return Value(std::move(e));
  }

  std::string uuid() {
    static const char kHex[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < 32; ++i) {
      if (i == 8 || i == 12 || i == 16 || i == 20) s += '-';
      s += kHex[rng_() % 16];
    }
    return s;
  }

  std::string user() { return "user" + std::to_string(rng_() % 50); }

  std::mt19937_64 rng_;
};

}  // namespace zeph::plist

#endif  // ZEPH_BENCH_STORE_MAKER_H_
