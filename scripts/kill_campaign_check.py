#!/usr/bin/env python3
"""Checks a sandbox home after an installer run that may have been killed.

    kill_campaign_check.py make HOME SLOTS     writes a store of about SLOTS slots and an old bundle
    kill_campaign_check.py check HOME [--settled] [--also FILE]

check: the store is the original bytes or a whole rewrite whose every idle
slot selects the installed saver; every backup is a byte-exact copy of the
original (or of FILE, the store as a later run found it); the bundle is the
old one or the new one, whole. With --settled (after a run that was not
killed) the store must be rewritten, nothing temporary may be left and no two
backups may hold the same bytes. Prints one line and exits 1 on any violation.
"""

import os
import plistlib
import re
import sys
import urllib.parse

BACKUP = re.compile(r"wallpaper-store-backup-\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ(-\d+)?\.plist$")


def paths(home):
    store_folder = os.path.join(home, "Library/Application Support/com.apple.wallpaper/Store")
    return {
        "store": os.path.join(store_folder, "Index.plist"),
        "store_folder": store_folder,
        "original": os.path.join(home, "..", "original.plist"),
        "backups": os.path.join(home, "Library/Application Support/zeph"),
        "savers": os.path.join(home, "Library/Screen Savers"),
        "saver": os.path.join(home, "Library/Screen Savers/zeph.saver"),
    }


def make(home, slots):
    p = paths(home)
    os.makedirs(p["store_folder"], exist_ok=True)
    def image(n):  # distinct in every slot, as a real store's dates make them
        return {"Content": {"Choices": [{"Provider": "com.apple.wallpaper.choice.image",
                                         "Configuration": b"x" * 600 + str(n).encode(), "Files": []}],
                            "Shuffle": "$null"}}
    spaces = {}
    for s in range(max(1, slots // 4)):
        displays = {f"DISPLAY-{s}-{d}-" + "0" * 24: {"Idle": image(4 * s + d), "Type": "individual"}
                    for d in range(3)}
        spaces[f"SPACE-{s:06d}-" + "F" * 24] = {"Default": {"Idle": image(4 * s + 3)}, "Displays": displays}
    root = {"SystemDefault": {"Idle": image(-1)}, "Spaces": spaces, "AllSpacesAndDisplays": "$null"}
    data = plistlib.dumps(root, fmt=plistlib.FMT_BINARY)
    for path in (p["store"], p["original"]):
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(p["saver"], "Contents"), exist_ok=True)
    with open(os.path.join(p["saver"], "Contents/Info.plist"), "w") as f:
        f.write("old")
    with open(os.path.join(p["saver"], "Contents/old-only"), "w") as f:
        f.write("x")
    print(f"store: {len(data)} bytes, {1 + 4 * len(spaces)} slots")


def idle_slots(root):
    found = []
    if isinstance(root.get("SystemDefault"), dict):
        found.append(root["SystemDefault"].get("Idle"))
    spaces = root.get("Spaces")
    for space in (spaces.values() if isinstance(spaces, dict) else []):
        if not isinstance(space, dict):
            continue
        if isinstance(space.get("Default"), dict):
            found.append(space["Default"].get("Idle"))
        displays = space.get("Displays")
        if isinstance(displays, dict):
            found += [d.get("Idle") for d in displays.values() if isinstance(d, dict)]
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


def check(home, settled, also):
    p = paths(home)
    problems = []
    original = open(p["original"], "rb").read()
    allowed = {original} | ({open(also, "rb").read()} if also else set())
    store = open(p["store"], "rb").read()
    if store != original:
        root = plistlib.loads(store)
        slots = idle_slots(root)
        if not all(selects(s, p["saver"]) for s in slots):
            problems.append("store rewritten but not every slot selects the saver")
    elif settled:
        problems.append("store not rewritten by a run that was not killed")
    backups = sorted(os.listdir(p["backups"])) if os.path.isdir(p["backups"]) else []
    for name in backups:
        full = os.path.join(p["backups"], name)
        if name == "applied":  # the marker a run that set slots leaves
            continue
        if BACKUP.match(name):
            if open(full, "rb").read() not in allowed:
                problems.append(f"backup {name} is not an exact copy")
        elif not (name.startswith(".wallpaper-store-backup-") and name.endswith(".tmp")) or settled:
            problems.append(f"unexpected file in the backup folder: {name}")
    for name in os.listdir(p["store_folder"]):
        if name != "Index.plist" and (settled or not (name.startswith(".Index.plist.") and name.endswith(".tmp"))):
            problems.append(f"unexpected file in the store folder: {name}")
    for name in os.listdir(p["savers"]):
        if name != "zeph.saver" and (settled or not name.startswith(".zeph.saver.")):
            problems.append(f"unexpected item in Screen Savers: {name}")
    info = os.path.join(p["saver"], "Contents/Info.plist")
    if not os.path.isfile(info):
        problems.append("no bundle at zeph.saver")
    elif open(info, "rb").read() == b"old":
        if not os.path.exists(os.path.join(p["saver"], "Contents/old-only")):
            problems.append("old bundle incomplete")
        elif settled:
            problems.append("old bundle still in place after a run that was not killed")
    elif os.path.exists(os.path.join(p["saver"], "Contents/old-only")):
        problems.append("old and new bundle mixed")
    else:
        try:
            plistlib.loads(open(info, "rb").read())
        except Exception:
            problems.append("new bundle's Info.plist incomplete")
    kept = [open(os.path.join(p["backups"], n), "rb").read() for n in backups if BACKUP.match(n)]
    if settled and (not kept or len(set(kept)) != len(kept)):
        problems.append(f"{len(kept)} backups, {len(set(kept))} different")
    if problems:
        print("FAIL: " + "; ".join(problems))
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]))
    else:
        also = sys.argv[sys.argv.index("--also") + 1] if "--also" in sys.argv else None
        check(sys.argv[2], "--settled" in sys.argv, also)
