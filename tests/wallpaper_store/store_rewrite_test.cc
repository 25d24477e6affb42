#include "wallpaper_store/store_rewrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "base/installer_error.h"
#include "platform/files.h"
#include "plist/error.h"
#include "support/sandbox.h"
#include "support/store_builders.h"
#include "wallpaper_store/idle_entry.h"
#include "wallpaper_store/slot_count.h"
#include "wallpaper_store/store_backups.h"
#include "wallpaper_store/store_change.h"
#include "wallpaper_store/store_document.h"
#include "wallpaper_store/store_slots.h"
#include "wallpaper_store/store_time.h"

namespace zeph {
namespace {

using test_support::anyErrorOf;
using test_support::array;
using test_support::dict;
using test_support::fixture;
using test_support::HomeSandbox;
using test_support::namesIn;
using test_support::readBytes;
using test_support::str;

const std::string kUnreadable = "Couldn't read the macOS screensaver settings file.";

// `root` with the "Idle" member of every slot taken out; the idle values go to `idles`.
plist::Value withoutSlotIdles(const plist::Value& root, std::vector<plist::Value>* idles = nullptr) {
  return plist::Value(replaceSlotRecords(*root.asDictionary(), [idles](const Slot& slot) {
    plist::Dictionary out;
    for (const auto& [key, value] : *slot.record) {
      if (key != "Idle") {
        out.set(key, value);
      } else if (idles) {
        idles->push_back(value);
      }
    }
    return out;
  }));
}

// Checks a rewritten store against the one before: binary, the same outside the
// slots, every slot holding one and the same saver entry. Returns that entry.
plist::Value expectRewritten(const plist::Value& before, std::int64_t count) {
  std::vector<std::uint8_t> bytes = readBytes(storePath);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + std::min<std::size_t>(8, bytes.size())), "bplist00");
  plist::Value after = plist::read(bytes);
  std::vector<plist::Value> idles;
  EXPECT_EQ(withoutSlotIdles(after, &idles), withoutSlotIdles(before));
  EXPECT_EQ(static_cast<std::int64_t>(idles.size()), count);
  for (const plist::Value& idle : idles) {
    EXPECT_EQ(idle, idles.front());
    EXPECT_TRUE(selectsInstalledSaver(idle.asDictionary()));
  }
  EXPECT_EQ(zephSlotCount(), count);
  return idles.empty() ? plist::Value() : idles.front();
}

plist::Value savedEntry(const char* url, double date) {
  return dict(
      {{"Content", dict({{"Choices", array({dict({{"Provider", str(kScreenSaverProvider)},
                                                  {"Configuration", plist::Value(moduleConfiguration(url))},
                                                  {"Files", array({})}})})},
                         {"Shuffle", str("$null")}})},
       {"LastSet", plist::Value(plist::Date{date})},
       {"LastUse", plist::Value(plist::Date{date + 60})}});
}

plist::Value imageEntry() {
  return dict({{"Content",
                dict({{"Choices", array({dict({{"Provider", str("com.apple.wallpaper.choice.image")}})})}})},
               {"LastSet", plist::Value(plist::Date{1000})}});
}

TEST(RewriteWallpaperStore, WithoutAStoreCreatesNothing) {
  HomeSandbox box;
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 0);
  EXPECT_TRUE(namesIn(realHome).empty());
}

// realistic_store.xml was made with python3 plistlib (FMT_XML) from a tree of the
// shape real Macs write; realistic_store.bplist from it with `plistutil -f bin`.
TEST(RewriteWallpaperStore, RealisticStoreInEitherFormat) {
  for (const char* name : {"realistic_store.xml", "realistic_store.bplist"}) {
    SCOPED_TRACE(name);
    HomeSandbox box;
    std::vector<std::uint8_t> original = fixture(name);
    box.putStore(original);
    plist::Value before = plist::read(original);

    EXPECT_EQ(rewriteWallpaperStore().slots.index, 7);
    plist::Value entry = expectRewritten(before, 7);
    EXPECT_EQ(entry.asDictionary()->find("LastSet")->kind(), plist::Kind::Date);

    std::vector<std::string> backups = box.backups();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        backups[0], std::regex(R"(wallpaper-store-backup-\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\.plist)")));
    EXPECT_EQ(readBytes(box.backupFolder() + "/" + backups[0]), original);
    EXPECT_EQ(namesIn(box.storeFolder()), std::vector<std::string>{"Index.plist"});

    // A second reader, independent of ours, sees the same tree outside the slots.
    std::string script = realHome + "/check.py";
    std::ofstream(script) << R"(import plistlib, sys
old = plistlib.load(open(sys.argv[1], 'rb'))
new = plistlib.load(open(sys.argv[2], 'rb'))
assert open(sys.argv[2], 'rb').read(8) == b'bplist00'
def slots(root):
    found = [root[k] for k in ('SystemDefault', 'AllSpacesAndDisplays') if isinstance(root.get(k), dict)]
    if isinstance(root.get('Displays'), dict): found += [d for d in root['Displays'].values() if isinstance(d, dict)]
    spaces = root.get('Spaces')
    for space in (spaces.values() if isinstance(spaces, dict) else []):
        if not isinstance(space, dict): continue
        if isinstance(space.get('Default'), dict): found.append(space['Default'])
        displays = space.get('Displays')
        if isinstance(displays, dict): found += [d for d in displays.values() if isinstance(d, dict)]
    return found
idles = [slot.pop('Idle') for slot in slots(new)]
for slot in slots(old): slot.pop('Idle', None)
assert old == new
assert len(idles) == 7 and all(idle == idles[0] for idle in idles)
assert plistlib.loads(idles[0]['Content']['Choices'][0]['Configuration']) == {'module': {'relative': sys.argv[3]}}
)";
    std::string command = "python3 '" + script + "' '" + box.backupFolder() + "/" + backups[0] + "' '" +
                          storePath + "' '" + fileUrl(saverDest) + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
}

TEST(RewriteWallpaperStore, SetsEverySlotAndCountsIt) {
  plist::Value display = dict({{"Desktop", imageEntry()}});
  plist::Value space = dict({{"Default", dict({{"Idle", imageEntry()}})},
                             {"Displays", dict({{"A", display}, {"B", dict({{"Idle", str("$null")}})}})}});
  struct Case {
    const char* name;
    plist::Value root;
    std::int64_t count;
  };
  const Case cases[] = {
      {"two spaces with two displays",
       dict({{"SystemDefault", dict({})}, {"Spaces", dict({{"", space}, {"X", space}})}}), 7},
      {"nothing to set", dict({{"Displays", array({display})}, {"Other", plist::Value::integer(3)}}), 0},
      {"top-level displays", dict({{"Displays", dict({{"A", display}, {"B", str("$null")}})}}), 1},
      {"system default only",
       dict({{"SystemDefault", dict({{"Idle", str("x")}, {"Type", str("individual")}})}}), 1},
      {"spaces not a dictionary", dict({{"SystemDefault", dict({})}, {"Spaces", array({space})}}), 1},
      {"system default not a dictionary",
       dict({{"SystemDefault", str("$null")}, {"Spaces", dict({{"", space}})}}), 3},
      {"space not a dictionary", dict({{"Spaces", dict({{"S", str("$null")}, {"T", space}})}}), 3},
      {"displays only",
       dict({{"Spaces", dict({{"S", dict({{"Displays", dict({{"A", display}, {"B", display}})}})}})}}), 2},
      {"default only",
       dict({{"Spaces", dict({{"S", dict({{"Default", dict({})}, {"Displays", str("x")}})}})}}), 1},
      {"display members of other kinds",
       dict({{"Spaces", dict({{"S", dict({{"Displays",
                                           dict({{"A", str("x")}, {"B", array({})}, {"C", display}})}})}})}}),
       1},
  };
  for (const Case& c : cases) {
    for (plist::Format format : {plist::Format::Xml, plist::Format::Binary}) {
      SCOPED_TRACE(std::string(c.name) + (format == plist::Format::Xml ? " (XML)" : " (binary)"));
      HomeSandbox box;
      box.putStore(c.root, format);
      EXPECT_EQ(rewriteWallpaperStore().slots.index, c.count);
      expectRewritten(c.root, c.count);
      if (c.count == 0) {
        EXPECT_EQ(box.readStore(), c.root);
      }
    }
  }
}

// Only the system default's own entry is spread, and only when it selects the
// installed saver: then it is kept exactly, dates and all, under any spelling
// of the URL. An entry for another zeph.saver (a migrated account, another
// host; SelectsInstalledSaver has every other URL) or an image selects
// nothing installed, and a space's entry is not the system default's: every
// slot gets a fresh entry then. So it does when the system default's choices
// hold anything but dictionaries beside the saver's.
TEST(RewriteWallpaperStore, SpreadsOnlyTheSystemDefaultsEntryForTheInstalledSaver) {
  struct Case {
    std::string systemUrl;  // "" an image; "DEST" the installed saver's URL, "PATH" its path
    std::string spaceUrl;
    bool kept;
    bool strayChoice = false;  // a string before the system default's saver choice
  };
  const Case cases[] = {
      {"file://localhost/PATH/", "", true},
      {"", "DEST", false},
      {"file:///Users/olduser/Library/Screen%20Savers/zeph.saver", "", false},
      {"file://otherhost/PATH", "", false},
      {"DEST", "", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.systemUrl + " " + c.spaceUrl);
    HomeSandbox box;
    const std::string dest = fileUrl(saverDest);
    auto entryFor = [&dest](std::string url) {
      if (url.empty()) return imageEntry();
      if (url == "DEST") url = dest;
      if (auto at = url.find("PATH"); at != std::string::npos) url.replace(at, 4, dest.substr(8));
      return savedEntry(url.c_str(), 600000000);
    };
    plist::Value systemEntry = entryFor(c.systemUrl);
    if (c.strayChoice) {
      plist::Array choices = *test_support::memberAt(systemEntry, {"Content", "Choices"}).asArray();
      choices.insert(choices.begin(), str("stray"));
      systemEntry =
          test_support::withMember(systemEntry, {"Content", "Choices"}, plist::Value(std::move(choices)));
    }
    plist::Value root = dict({{"SystemDefault", dict({{"Idle", systemEntry}})},
                              {"Spaces", dict({{"", dict({{"Default", dict({{"Idle", entryFor(c.spaceUrl)}})},
                                                          {"Displays", dict({{"Main", dict({})}})}})}})}});
    box.putStore(root, plist::Format::Binary);
    const double before = currentDate().secondsSince2001;
    if (c.strayChoice) {
      EXPECT_EQ(zephSlotCount(), 0);  // the status agrees: not the saver
    }
    EXPECT_EQ(rewriteWallpaperStore().slots.index, 3);
    const plist::Value entry = expectRewritten(root, 3);
    if (c.kept) {
      EXPECT_EQ(entry, systemEntry);
      continue;
    }
    EXPECT_NE(entry, systemEntry);
    EXPECT_GE(entry.asDictionary()->find("LastSet")->asDate()->secondsSince2001, before);
    const plist::Array* choices = test_support::memberAt(entry, {"Content", "Choices"}).asArray();
    ASSERT_TRUE(choices && choices->size() == 1);
    const plist::Value* configuration = plist::member(choices->front(), "Configuration");
    EXPECT_EQ(configuration ? moduleUrl(*configuration) : std::nullopt, dest);
  }
}

TEST(RewriteWallpaperStore, EachCallLeavesItsOwnBackup) {
  HomeSandbox box;
  plist::Value root = dict({{"SystemDefault", dict({})}});
  box.putStore(root, plist::Format::Xml);
  std::vector<std::uint8_t> original = readBytes(storePath);

  // Take every name the next minute could give, so the call must pick a suffix.
  createFolders(box.backupFolder());
  for (int s = -1; s < 60; ++s) {
    std::string taken = box.backupFolder() + "/wallpaper-store-backup-" +
                        isoTimestamp(plist::Date{currentDate().secondsSince2001 + s}) + ".plist";
    std::ofstream(taken) << "taken";
  }
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  std::vector<std::uint8_t> afterFirst = readBytes(storePath);
  plist::Value entry = expectRewritten(root, 1);
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  EXPECT_EQ(expectRewritten(root, 1), entry);  // the second call keeps the first one's entry

  std::vector<std::string> suffixed;
  for (const std::string& name : box.backups()) {
    std::vector<std::uint8_t> content = readBytes(box.backupFolder() + "/" + name);
    if (name.find("Z-") == std::string::npos) {
      EXPECT_EQ(content, std::vector<std::uint8_t>({'t', 'a', 'k', 'e', 'n'})) << name;
    } else {
      suffixed.push_back(name);
    }
  }
  ASSERT_EQ(suffixed.size(), 2u);
  EXPECT_NE(suffixed[0].find("Z-2.plist"), std::string::npos);
  std::vector<std::uint8_t> first = readBytes(box.backupFolder() + "/" + suffixed[0]);
  std::vector<std::uint8_t> second = readBytes(box.backupFolder() + "/" + suffixed[1]);
  // Both calls fall in the same second ("-2", "-3") or not ("-2", "-2"): name order is call order.
  EXPECT_EQ(first, original);
  EXPECT_EQ(second, afterFirst);
}

TEST(RewriteWallpaperStore, ReplacesTheFileBehindALinkAndKeepsItsMode) {
  HomeSandbox box;
  plist::Value root = dict({{"SystemDefault", dict({})}});
  std::string real = realHome + "/Dotfiles/wallpaper/Index.plist";
  test_support::writeBytes(real, plist::write(root, plist::Format::Xml));
  ::chmod(real.c_str(), 0640);
  createFolders(box.storeFolder());
  ::symlink("../../../../Dotfiles/wallpaper/Index.plist", (box.storeFolder() + "/Linked.plist").c_str());
  ::symlink("Linked.plist", storePath.c_str());

  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  struct stat st {};
  ASSERT_EQ(::lstat(storePath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat(real.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  expectRewritten(root, 1);
  EXPECT_EQ(namesIn(box.storeFolder()), (std::vector<std::string>{"Index.plist", "Linked.plist"}));
}

// `text` with "STORE", "FOLDER" and "BACKUPS" replaced by the sandbox's store,
// store folder and backup folder.
std::string withPaths(std::string text, const HomeSandbox& box) {
  for (const auto& [mark, path] : {std::pair<std::string, std::string>{"STORE", storePath},
                                   {"FOLDER", box.storeFolder()},
                                   {"BACKUPS", box.backupFolder()}}) {
    if (auto at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), path);
  }
  return text;
}

// A failure before the new store is in place leaves the store's bytes as
// they were and nothing half-made: reading the store (before any backup),
// making the backup, making the new store beside the old. Some rows run as an
// unprivileged user, for whom permission bits count.
TEST(RewriteWallpaperStore, AFailureLeavesTheStoreAsItWas) {
  struct Case {
    const char* name;
    void (*make)(const HomeSandbox& box);
    bool unprivileged;
    std::string error;  // "STORE", "FOLDER" and "BACKUPS" standing for the paths
    bool beforeTheBackup;
    std::size_t backups;
  };
  const Case cases[] = {
      {"a folder where the store is",
       [](const HomeSandbox&) {
         ::unlink(storePath.c_str());
         createFolders(storePath);
       },
       false, "read(STORE): Is a directory", true, 0},
      {"a store it may not read",
       [](const HomeSandbox&) {
         ::chmod(storePath.c_str(), 0600);
         test_support::openUp(storePath, false);
       },
       true, "open(STORE): Permission denied", true, 0},
      {"a file where the backup folder is",
       [](const HomeSandbox& b) { test_support::writeBytes(b.backupFolder(), {'x'}); }, false,
       "mkdir(BACKUPS): File exists", false, 0},
      {"a backup folder it may not write",
       [](const HomeSandbox& b) {
         createFolders(b.backupFolder());
         test_support::openUp(b.backupFolder(), false);
         ::chmod(b.backupFolder().c_str(), 0555);
       },
       true, "create a file in BACKUPS: Permission denied", false, 0},
      {"a store folder it may not write",
       [](const HomeSandbox& b) {
         createFolders(b.backupFolder());
         test_support::openUp(b.backupFolder(), true);
         ::chmod(b.storeFolder().c_str(), 0555);
       },
       true, "create a file in FOLDER: Permission denied", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    box.putStore(dict({{"SystemDefault", dict({})}}), plist::Format::Xml);
    const std::vector<std::uint8_t> original = readBytes(storePath);
    c.make(box);
    const auto rewrite = [] { rewriteWallpaperStore(); };
    EXPECT_EQ(
        c.unprivileged ? test_support::errorUnprivileged(rewrite) : anyErrorOf<std::system_error>(rewrite),
        withPaths(c.error, box));
    if (!std::filesystem::is_directory(storePath)) {
      EXPECT_EQ(readBytes(storePath), original);
    }
    EXPECT_EQ(namesIn(box.storeFolder()), std::vector<std::string>{"Index.plist"});
    EXPECT_EQ(pathExists(box.backupFolder()), !c.beforeTheBackup);
    EXPECT_EQ(box.backups().size(), c.backups);
  }
}

// Another program writes a store between zeph's read of it and the rename of
// the new one: the change is made again from the bytes it wrote, which are
// backed up like any store; a store that keeps changing is left as the other
// program last wrote it, and so is its pair. An in-place write that keeps the
// size and the time (as a coarse clock would) is told by the bytes.
TEST(ChangeStores, KeepsAWriteMadeBetweenReadAndRename) {
  struct Case {
    const char* name;
    bool pair;
    bool toSecond;  // the writes go to Index2.plist, else to Index.plist
    int writes;     // one per read of that store; 99: at every read
    bool sameSizeAndTime = false;
  };
  const Case cases[] = {
      {"Index.plist, once", false, false, 1},
      {"Index.plist, once, same size and time", false, false, 1, true},
      {"Index.plist, three times", false, false, 3},
      {"Index.plist, at every read", false, false, 99},
      {"Index2.plist of a pair, once", true, true, 1},
      {"Index.plist of a pair, after Index2.plist was renamed", true, false, 2},
      {"Index.plist of a pair, at every read", true, false, 99},
      {"Index2.plist of a pair, at every read", true, true, 99},
  };
  // Each version has the same size: only the digit differs.
  auto version = [](int n) {
    return plist::write(dict({{"SystemDefault", dict({})}, {"Version", str(std::to_string(n).c_str())}}),
                        plist::Format::Binary);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    box.putStore(version(0));
    if (c.pair) test_support::writeBytes(storePath2, version(0));
    if (!c.sameSizeAndTime) {
      // Stores untouched for a while: their stamps alone tell a write.
      for (const std::string& path : {storePath, storePath2}) {
        if (std::filesystem::exists(path)) {
          std::filesystem::last_write_time(path,
                                           std::filesystem::last_write_time(path) - std::chrono::hours(1));
        }
      }
    }
    const std::string written = c.toSecond ? storePath2 : storePath;
    const std::string other = c.toSecond ? storePath : storePath2;
    int writes = 0;
    const StoreEditor change = [&](const StoreFile& store, const plist::Dictionary& old) {
      StoreEdit result;
      result.document = old;
      result.document->set("Changed", plist::Value("by zeph"));
      result.slots = 1;
      if (store.path == written && writes < c.writes) {
        const auto time = std::filesystem::last_write_time(written);
        test_support::writeBytes(written, version(++writes));
        if (c.sameSizeAndTime) std::filesystem::last_write_time(written, time);
      }
      return result;
    };
    if (c.writes == 99) {
      EXPECT_EQ(anyErrorOf<std::runtime_error>([&] { changeStores("changed", change); }),
                written + " keeps changing while zeph writes it; nothing was changed");
      EXPECT_EQ(writes, 4);
      EXPECT_EQ(readBytes(written), version(writes));
      if (c.pair) {
        EXPECT_EQ(readBytes(other), version(0));
      }
      continue;
    }
    const StoreChangeReport counts = changeStores("changed", change);
    EXPECT_EQ(counts.slots.index, 1);
    EXPECT_EQ(counts.lateFailure, "");
    EXPECT_EQ(writes, c.writes);
    for (const std::string& path : {written, other}) {
      if (!c.pair && path == storePath2) continue;
      const plist::Value after = plist::read(readBytes(path));
      EXPECT_EQ(*plist::member(after, "Changed"), plist::Value("by zeph"));
      EXPECT_EQ(*plist::member(after, "Version"),
                plist::Value(path == written ? std::to_string(writes) : "0"));
    }
    // Every version the change was made from is in the written store's series.
    const StoreFile series = c.toSecond ? secondStore() : firstStore();
    std::vector<std::vector<std::uint8_t>> backedUp;
    for (const StoreBackup& backup : storeBackups(series)) backedUp.push_back(readBytes(backup.path));
    std::vector<std::vector<std::uint8_t>> expected;
    for (int n = 0; n <= writes; ++n) expected.push_back(version(n));
    EXPECT_EQ(backedUp, expected);
    EXPECT_EQ(namesIn(box.storeFolder()).size(), c.pair ? 2u : 1u);
  }
}

// The change runs the edit on each store there, Index2.plist first, backs
// each up, writes only what the edit changed and reports store by store.
TEST(ChangeStores, BacksUpEachStoreWritesOnlyWhatTheEditChangedAndReportsEach) {
  struct Case {
    const char* name;
    bool pair;
    bool editChanges;
  };
  const Case cases[] = {
      {"Index.plist alone, nothing to change", false, false},
      {"a pair, nothing to change", true, false},
      {"a pair, both changed", true, true},
  };
  const std::vector<std::uint8_t> xml = plist::write(dict({{"SystemDefault", dict({})}}), plist::Format::Xml);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    box.putStore(xml);
    if (c.pair) test_support::writeBytes(storePath2, xml);
    std::vector<std::string> edited;
    const StoreChangeReport report =
        changeStores("changed", [&](const StoreFile& store, const plist::Dictionary& old) {
          edited.push_back(store.path);
          EXPECT_NE(old.find("SystemDefault"), nullptr);
          StoreEdit edit;
          if (!c.editChanges) return edit;
          edit.document = old;
          edit.slots = store.path == storePath ? 2 : 5;
          edit.backupsUsed = {store.path + " backup"};
          return edit;
        });
    using Paths = std::vector<std::string>;
    const Paths stores = c.pair ? Paths{storePath2, storePath} : Paths{storePath};
    EXPECT_EQ(edited, stores);
    EXPECT_EQ(report.slots.index, c.editChanges ? 2 : 0);
    EXPECT_EQ(report.slots.index2, c.editChanges ? 5 : 0);
    const Paths used = c.editChanges ? Paths{storePath2 + " backup", storePath + " backup"} : Paths{};
    EXPECT_EQ(report.backupsUsed, used);
    EXPECT_EQ(report.lateFailure, "");
    for (const std::string& path : stores) {
      // A store written is binary; one left alone keeps its XML.
      EXPECT_EQ(readBytes(path) == xml, !c.editChanges) << path;
    }
    EXPECT_EQ(storeBackups(firstStore()).size(), 1u);
    EXPECT_EQ(storeBackups(secondStore()).size(), c.pair ? 1u : 0u);
  }
}

// Bytes that are no store are backed up all the same, and left as they were;
// the error names the store, or says it cannot be read.
TEST(RewriteWallpaperStore, KeepsTheBackupOfAStoreItCannotRead) {
  std::vector<std::uint8_t> truncated =
      plist::write(dict({{"SystemDefault", dict({})}}), plist::Format::Binary);
  truncated.resize(truncated.size() / 2);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string error;  // how a plist::Error's message goes on after the store's path; "" an InstallerError
  };
  const Case cases[] = {
      {"not a property list", {'n', 'o', 't', ' ', 'a', ' ', '{', 'p', 'l', 'i', 's', 't'}, ": "},
      {"empty", {}, ": "},
      {"unfinished XML", {'<', 'p', 'l', 'i', 's', 't', '>'}, ": "},
      {"truncated binary", truncated, ": a damaged binary property list ("},
      {"magic then bytes no text reader takes",
       {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xFF, 0xFE},
       ": a damaged binary property list ("},
      {"XML array", plist::write(array({dict({})}), plist::Format::Xml), ""},
      {"binary string", plist::write(str("SystemDefault"), plist::Format::Binary), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    box.putStore(c.bytes);
    if (c.error.empty()) {
      try {
        rewriteWallpaperStore();
        ADD_FAILURE() << "no error";
      } catch (const InstallerError& e) {
        EXPECT_EQ(e.code(), 2);
        EXPECT_EQ(std::string(e.what()), kUnreadable);
      }
    } else {
      std::string message = anyErrorOf<plist::Error>(rewriteWallpaperStore);
      EXPECT_EQ(message.rfind(storePath + c.error, 0), 0u) << message;
      // A damaged binary store is told by the binary reader alone.
      if (c.error != ": ") {
        EXPECT_EQ(message.find("old-style"), std::string::npos) << message;
        EXPECT_EQ(message.find("XML"), std::string::npos) << message;
      }
    }
    ASSERT_EQ(box.backups().size(), 1u);
    EXPECT_EQ(readBytes(box.backupFolder() + "/" + box.backups()[0]), c.bytes);
    EXPECT_EQ(readBytes(storePath), c.bytes);
    EXPECT_EQ(zephSlotCount(), 0);
  }
}

// "No store" is only nothing there; anything that keeps the store from view is
// an error naming it, and nothing is backed up or written.
TEST(RewriteWallpaperStore, OnlyNothingThereIsNoStore) {
  {
    HomeSandbox box;
    createFolders(realHome + "/Library");  // macOS 13: no store folder yet
    EXPECT_EQ(rewriteWallpaperStore().slots.index, 0);
  }
  struct Case {
    const char* name;
    std::function<void(const HomeSandbox&)> make;
    std::string error;  // with "STORE" and "FOLDER" standing for the paths
  };
  const Case cases[] = {
      {"dangling link",
       [](const HomeSandbox& b) {
         createFolders(b.storeFolder());
         ::symlink("Gone.plist", storePath.c_str());
       },
       "STORE is a dangling link to Gone.plist: No such file or directory"},
      {"dangling store folder",
       [](const HomeSandbox& b) {
         createFolders(b.storeFolder().substr(0, b.storeFolder().rfind('/')));
         ::symlink("/nonexistent/Store", b.storeFolder().c_str());
       },
       "FOLDER is a dangling link to /nonexistent/Store: No such file or directory"},
      {"loop",
       [](const HomeSandbox& b) {
         createFolders(b.storeFolder());
         ::symlink("Index.plist", storePath.c_str());
       },
       "stat(STORE): Too many levels of symbolic links"},
      {"FIFO",
       [](const HomeSandbox& b) {
         createFolders(b.storeFolder());
         ::mkfifo(storePath.c_str(), 0600);
       },
       "STORE: not a regular file (a FIFO)"},
      {"endless device",
       [](const HomeSandbox& b) {
         createFolders(b.storeFolder());
         ::symlink("/dev/zero", storePath.c_str());
       },
       "STORE: not a regular file (a character device)"},
      {"file as folder", [](const HomeSandbox& b) { test_support::writeBytes(b.storeFolder(), {'x'}); },
       "stat(STORE): Not a directory"},
      {"over 256 MiB",
       [](const HomeSandbox& b) {
         b.putStore({'x'});
         ASSERT_EQ(::truncate(storePath.c_str(), (off_t{256} << 20) + 1), 0);
       },
       "STORE is too large to read (256.0 MiB; the limit is 256.0 MiB)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeSandbox box;
    c.make(box);
    EXPECT_EQ(anyErrorOf(rewriteWallpaperStore), withPaths(c.error, box));
    EXPECT_FALSE(pathExists(box.backupFolder()));
  }
}

// Spaces sharing one dictionary of displays: a few kilobytes that would be
// spelled out as millions of slots. Every walk stops at the limit, having
// visited no more than it, and the rewrite refuses before the backup.
TEST(RewriteWallpaperStore, RefusesAStoreThatWouldExplodeBeforeItsBackup) {
  const std::string tooMany = "more than 1000000 screensaver slots, more than a store can sensibly have";
  const struct {
    const char* name;
    plist::Value root;
  } cases[] = {
      {"one slot over", test_support::sharedSlotsStore(1001, 1000)},
      {"3,000 spaces of 3,000 displays", test_support::sharedSlotsStore(3000, 3000)},
      {"nine million places holding no record", test_support::sharedSlotsStore(3000, 3000, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::int64_t visited = 0;
    EXPECT_THROW(forEachSlot(*c.root.asDictionary(), [&visited](const Slot&) { ++visited; }), TooManySlots);
    EXPECT_LE(visited, kMaxStoreSlots);
    visited = 0;
    EXPECT_THROW(replaceSlotRecords(*c.root.asDictionary(),
                                    [&visited](const Slot& slot) {
                                      ++visited;
                                      return *slot.record;
                                    }),
                 TooManySlots);
    EXPECT_LE(visited, kMaxStoreSlots);

    HomeSandbox box;
    box.putStore(c.root, plist::Format::Binary);
    std::vector<std::uint8_t> original = readBytes(storePath);
    ASSERT_LT(original.size(), 100000u);
    EXPECT_EQ(anyErrorOf(rewriteWallpaperStore), storePath + ": " + tooMany);
    EXPECT_EQ(anyErrorOf([] { parseStore(loadStore(storePath), storePath); }), storePath + ": " + tooMany);
    EXPECT_EQ(zephSlotCount(), 0);
    EXPECT_EQ(readBytes(storePath), original);
    EXPECT_FALSE(pathExists(box.backupFolder()));
  }
  // At the limit, a walk goes through.
  std::int64_t visited = 0;
  forEachSlot(*test_support::sharedSlotsStore(1000, 1000).asDictionary(),
              [&visited](const Slot&) { ++visited; });
  EXPECT_EQ(visited, kMaxStoreSlots);
}

// A store behind a symbolic link is written beside the file it points to, so
// a run killed while writing leaves its temporary there; the next run's sweep
// looks there.
TEST(RewriteWallpaperStore, SweepsTemporariesBesideALinkedStoresTarget) {
  HomeSandbox box;
  createFolders(box.storeFolder());
  const std::string elsewhere = realHome + "/elsewhere";
  createFolders(elsewhere);
  test_support::writeBytes(elsewhere + "/real.plist", plist::write(dict({}), plist::Format::Binary));
  ASSERT_EQ(::symlink((elsewhere + "/real.plist").c_str(), storePath.c_str()), 0);
  for (const char* name : {".real.plist.123.0.abc.tmp", ".Index.plist.9.0.f.tmp", ".other.plist.1.0.a.tmp"}) {
    test_support::writeBytes(elsewhere + "/" + name, {'x'});
  }
  removeStaleStoreTemporaries();
  EXPECT_EQ(namesIn(elsewhere),
            (std::vector<std::string>{".Index.plist.9.0.f.tmp", ".other.plist.1.0.a.tmp", "real.plist"}));
}

TEST(RewriteWallpaperStore, BacksUpOnlyWhatIsNotBackedUpAlreadyWithTheStoresMode) {
  HomeSandbox box;
  plist::Value root = dict({{"SystemDefault", dict({})}});
  box.putStore(root, plist::Format::Xml);
  ::chmod(storePath.c_str(), 0600);
  std::vector<std::uint8_t> original = readBytes(storePath);

  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  ASSERT_EQ(box.backups().size(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat((box.backupFolder() + "/" + box.backups()[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // The same bytes again (an agent that put them back): the backup holds them already.
  test_support::writeBytes(storePath, original);
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  EXPECT_EQ(box.backups().size(), 1u);
  // A re-run on the rewritten store backs that one up, once.
  std::vector<std::uint8_t> rewritten = readBytes(storePath);
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  EXPECT_EQ(rewriteWallpaperStore().slots.index, 1);
  ASSERT_EQ(box.backups().size(), 2u);
  for (const std::string& name : box.backups()) {
    std::vector<std::uint8_t> bytes = readBytes(box.backupFolder() + "/" + name);
    EXPECT_TRUE(bytes == original || bytes == rewritten) << name;
  }
}

TEST(RewriteWallpaperStore, RemovesOnlyWhatKilledRunsLeft) {
  HomeSandbox box;
  box.putStore(dict({}), plist::Format::Binary);
  createFolders(box.backupFolder());
  test_support::writeBytes(box.storeFolder() + "/.Index.plist.77.0.1a.tmp", {'p'});
  test_support::writeBytes(
      box.backupFolder() + "/.wallpaper-store-backup-2026-12-06T21:21:43Z.plist.77.1.2.tmp", {'p'});
  test_support::writeBytes(box.backupFolder() + "/wallpaper-store-backup-2026-12-06T21:21:43Z.plist", {'b'});
  removeStaleStoreTemporaries();
  EXPECT_EQ(namesIn(box.storeFolder()), std::vector<std::string>{"Index.plist"});
  EXPECT_EQ(box.backups(), std::vector<std::string>{"wallpaper-store-backup-2026-12-06T21:21:43Z.plist"});
}

}  // namespace
}  // namespace zeph
