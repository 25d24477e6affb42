#!/usr/bin/env python3
"""Checks a sandbox home after an installer run that may have been killed.

    kill_campaign_check.py make HOME SLOTS     writes both stores (about SLOTS slots in all) and an old bundle
    kill_campaign_check.py check HOME [--settled] [--also FILE] [--also2 FILE]
    kill_campaign_check.py check-uninstall HOME [--settled]

The home holds Index.plist, of individual and untyped records, and beside it
Index2.plist, of linked records, as macOS 26 keeps them.

check: each store is its original bytes or a whole rewrite in which every
record reads the installed saver from "Idle" (a linked record made individual,
its desktop the old "Linked" entry exactly, every other key as it was);
Index.plist is never new while Index2.plist is old, since Index2.plist is
renamed first; every backup of a store is a byte-exact copy of its original
(or of FILE / FILE2, the store as a later run found it); the bundle is the old
one or the new one, whole (or, with no bundle there after a kill between the two renames of a
swap, the whole new copy aside). With --settled (after a run that was not killed)
both stores must be rewritten, nothing temporary may be left and no two
backups of a store may hold the same bytes. Prints one line and exits 1 on any
violation.

check-uninstall (after --uninstall, from the home a whole --apply left, whose
stores are kept beside it as applied-Index.plist and applied-Index2.plist):
each store is as --apply left it or holds the original document again;
Index.plist is never restored while Index2.plist is not; every backup is a
byte-exact copy of a store as the original or as --apply left it; the bundle
is whole or gone. With --settled both stores hold their original documents,
nothing temporary is left, and the bundle is gone.
"""

import os
import plistlib
import re
import sys
import urllib.parse

STORES = {  # file name -> backup prefix
    "Index.plist": "wallpaper-store-backup-",
    "Index2.plist": "wallpaper-store2-backup-",
}
STAMP = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ(-\d+)?\.plist$"


def paths(home):
    store_folder = os.path.join(home, "Library/Application Support/com.apple.wallpaper/Store")
    return {
        "store_folder": store_folder,
        "backups": os.path.join(home, "Library/Application Support/zeph"),
        "savers": os.path.join(home, "Library/Screen Savers"),
        "saver": os.path.join(home, "Library/Screen Savers/zeph.saver"),
    }


def original_of(home, name):
    return os.path.join(home, "..", "original-" + name)


def image(n):  # distinct in every record, as a real store's dates make them
    return {"Content": {"Choices": [{"Provider": "com.apple.wallpaper.choice.image",
                                     "Configuration": b"x" * 600 + str(n).encode(), "Files": []}],
                        "Shuffle": "$null"}}


def first_store(spaces_count):
    spaces = {}
    for s in range(spaces_count):
        displays = {f"DISPLAY-{s}-{d}-" + "0" * 24: {"Idle": image(4 * s + d), "Type": "individual"}
                    for d in range(3)}
        spaces[f"SPACE-{s:06d}-" + "F" * 24] = {"Default": {"Idle": image(4 * s + 3)}, "Displays": displays}
    return {"SystemDefault": {"Idle": image(-1)}, "Spaces": spaces, "AllSpacesAndDisplays": "$null"}


def second_store(spaces_count):
    def linked(n):
        return {"Type": "linked", "Linked": image(100000 + n)}
    spaces = {f"SPACE-{s:06d}-" + "E" * 24: {"Default": linked(2 * s), "Displays": {"MAIN": linked(2 * s + 1)}}
              for s in range(spaces_count)}
    return {"SystemDefault": linked(-1), "AllSpacesAndDisplays": linked(-2),
            "Displays": {"TOP-DISPLAY": linked(-3)}, "Spaces": spaces}


def make(home, slots):
    p = paths(home)
    os.makedirs(p["store_folder"], exist_ok=True)
    sizes = []
    for name, root in (("Index.plist", first_store(max(1, slots // 5))),
                       ("Index2.plist", second_store(max(1, slots // 10)))):
        data = plistlib.dumps(root, fmt=plistlib.FMT_BINARY)
        for path in (os.path.join(p["store_folder"], name), original_of(home, name)):
            with open(path, "wb") as f:
                f.write(data)
        sizes.append(f"{name}: {len(data)} bytes, {len(records(root))} records")
    os.makedirs(os.path.join(p["saver"], "Contents"), exist_ok=True)
    with open(os.path.join(p["saver"], "Contents/Info.plist"), "w") as f:
        f.write("old")
    with open(os.path.join(p["saver"], "Contents/old-only"), "w") as f:
        f.write("x")
    print("; ".join(sizes))


def records(root):
    """Every record that can hold a screen saver, by its place."""
    found = {}
    for key in ("SystemDefault", "AllSpacesAndDisplays"):
        if isinstance(root.get(key), dict):
            found[(key,)] = root[key]

    def displays(holder, place):
        if isinstance(holder.get("Displays"), dict):
            for name, record in holder["Displays"].items():
                if isinstance(record, dict):
                    found[place + (name,)] = record
    displays(root, ("Displays",))
    spaces = root.get("Spaces")
    for name, space in (spaces.items() if isinstance(spaces, dict) else []):
        if not isinstance(space, dict):
            continue
        if isinstance(space.get("Default"), dict):
            found[("Spaces", name, "Default")] = space["Default"]
        displays(space, ("Spaces", name, "Displays"))
    return found


def selects(entry, saver):
    try:
        for choice in entry["Content"]["Choices"]:
            url = plistlib.loads(choice["Configuration"])["module"]["relative"]
            if urllib.parse.unquote(url[len("file://"):]).rstrip("/") == saver:
                return True
    except (KeyError, TypeError, ValueError, plistlib.InvalidFileException):
        pass
    return False


def rewrite_problem(old_root, new_root, saver):
    """What is wrong with new_root as a rewrite of old_root, or None."""
    old, new = records(old_root), records(new_root)
    if old.keys() != new.keys():
        return "records added or lost"
    for place, before in old.items():
        after = new[place]
        if after.get("Type", "individual") not in ("individual", "idle") or not selects(after.get("Idle"), saver):
            return f"{'/'.join(place)} does not read the saver"
        expected = dict(before)
        if before.get("Type") == "linked":
            expected["Type"] = "individual"
            expected["Desktop"] = expected.pop("Linked")
        if {k: v for k, v in after.items() if k != "Idle"} != {k: v for k, v in expected.items() if k != "Idle"}:
            return f"{'/'.join(place)} changed beyond its screen saver"
    return None


def check(home, settled, also):
    p = paths(home)
    problems = []
    rewritten = {}
    backups = sorted(os.listdir(p["backups"])) if os.path.isdir(p["backups"]) else []
    for name, prefix in STORES.items():
        original = open(original_of(home, name), "rb").read()
        allowed = {original} | ({open(also[name], "rb").read()} if also.get(name) else set())
        store = open(os.path.join(p["store_folder"], name), "rb").read()
        rewritten[name] = store != original
        if rewritten[name]:
            problem = rewrite_problem(plistlib.loads(original), plistlib.loads(store), p["saver"])
            if problem:
                problems.append(f"{name} rewritten wrongly: {problem}")
        elif settled:
            problems.append(f"{name} not rewritten by a run that was not killed")
        series = re.compile(re.escape(prefix) + STAMP)
        kept = []
        for backup in backups:
            if series.match(backup):
                kept.append(open(os.path.join(p["backups"], backup), "rb").read())
                if kept[-1] not in allowed:
                    problems.append(f"backup {backup} is not an exact copy")
        if settled and (not kept or len(set(kept)) != len(kept)):
            problems.append(f"{name}: {len(kept)} backups, {len(set(kept))} different")
    if rewritten["Index.plist"] and not rewritten["Index2.plist"]:
        problems.append("Index.plist is new while Index2.plist is old")

    any_backup = re.compile(r"wallpaper-store2?-backup-" + STAMP)
    for name in backups:
        if name == "applied" or any_backup.match(name):  # "applied": the marker a run that set slots leaves
            continue
        if settled or not re.match(r"\.wallpaper-store2?-backup-.*\.tmp$", name):
            problems.append(f"unexpected file in the backup folder: {name}")
    for name in os.listdir(p["store_folder"]):
        if name not in STORES and (settled or not re.match(r"\.Index2?\.plist\..*\.tmp$", name)):
            problems.append(f"unexpected file in the store folder: {name}")
    savers = os.listdir(p["savers"])
    for name in savers:
        # ".zeph.lock" stays; ".zeph.lock.held" is the lock where flock is refused.
        if name not in ("zeph.saver", ".zeph.lock") and \
                (settled or not (name.startswith(".zeph.saver.") or name == ".zeph.lock.held")):
            problems.append(f"unexpected item in Screen Savers: {name}")
    bundle = p["saver"]
    # Killed between the two renames of a swap without the exchange rename:
    # the complete new copy and the old one wait aside for the next run.
    aside = [n for n in savers if re.fullmatch(r"\.zeph\.saver\.old-\d+", n)
             and n.replace(".old-", ".new-") in savers]
    if not settled and not os.path.exists(bundle) and aside:
        bundle = os.path.join(p["savers"], aside[0].replace(".old-", ".new-"))
        if open(os.path.join(bundle, "Contents/Info.plist"), "rb").read() == b"old":
            problems.append("the copy aside is the old bundle")
    info = os.path.join(bundle, "Contents/Info.plist")
    if not os.path.isfile(info):
        problems.append("no bundle at zeph.saver")
    elif open(info, "rb").read() == b"old":
        if not os.path.exists(os.path.join(bundle, "Contents/old-only")):
            problems.append("old bundle incomplete")
        elif settled:
            problems.append("old bundle still in place after a run that was not killed")
    elif os.path.exists(os.path.join(bundle, "Contents/old-only")):
        problems.append("old and new bundle mixed")
    else:
        try:
            plistlib.loads(open(info, "rb").read())
        except Exception:
            problems.append("new bundle's Info.plist incomplete")
    if problems:
        print("FAIL: " + "; ".join(problems))
        sys.exit(1)
    print("ok")


def check_uninstall(home, settled):
    p = paths(home)
    problems = []
    restored = {}
    backups = sorted(os.listdir(p["backups"])) if os.path.isdir(p["backups"]) else []
    for name, prefix in STORES.items():
        original = open(original_of(home, name), "rb").read()
        applied = open(os.path.join(home, "..", "applied-" + name), "rb").read()
        store = open(os.path.join(p["store_folder"], name), "rb").read()
        restored[name] = store != applied
        if restored[name]:
            try:
                if plistlib.loads(store) != plistlib.loads(original):
                    problems.append(f"{name} is neither as --apply left it nor the original")
            except Exception as e:  # pylint: disable=broad-except
                problems.append(f"{name} does not parse: {e}")
        elif settled:
            problems.append(f"{name} not restored by a run that was not killed")
        series = re.compile(re.escape(prefix) + STAMP)
        for backup in backups:
            if series.match(backup) and open(os.path.join(p["backups"], backup), "rb").read() not in (original, applied):
                problems.append(f"backup {backup} is not an exact copy")
    if restored["Index.plist"] and not restored["Index2.plist"]:
        problems.append("Index.plist is restored while Index2.plist is not")

    any_backup = re.compile(r"wallpaper-store2?-backup-" + STAMP)
    for name in backups:
        if name in ("applied", "legacy-screensaver-module.plist") or any_backup.match(name):
            continue
        if settled or not re.match(r"\.(wallpaper-store2?-backup-|legacy-screensaver-module).*\.tmp$", name):
            problems.append(f"unexpected file in the backup folder: {name}")
    for name in os.listdir(p["store_folder"]):
        if name not in STORES and (settled or not re.match(r"\.Index2?\.plist\..*\.tmp$", name)):
            problems.append(f"unexpected file in the store folder: {name}")
    for name in os.listdir(p["savers"]):
        if name == "zeph.saver":
            if settled:
                problems.append("the bundle is still there after a run that was not killed")
        elif name != ".zeph.lock" and \
                (settled or not (name.startswith(".zeph.saver.") or name == ".zeph.lock.held")):
            problems.append(f"unexpected item in Screen Savers: {name}")
    info = os.path.join(p["saver"], "Contents/Info.plist")
    if os.path.exists(p["saver"]):
        try:
            plistlib.loads(open(info, "rb").read())
        except Exception:  # pylint: disable=broad-except
            problems.append("the bundle at zeph.saver is incomplete")
    if problems:
        print("FAIL: " + "; ".join(problems))
        sys.exit(1)
    print("ok")


def option(name):
    return sys.argv[sys.argv.index(name) + 1] if name in sys.argv else None


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]))
    elif sys.argv[1] == "check-uninstall":
        check_uninstall(sys.argv[2], "--settled" in sys.argv)
    else:
        check(sys.argv[2], "--settled" in sys.argv,
              {"Index.plist": option("--also"), "Index2.plist": option("--also2")})
