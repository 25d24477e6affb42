#!/usr/bin/env python3
"""Writes a wallpaper store shaped like the ones found on real Macs.

    make_demo_store.py PATH [--format xml|binary] [--second PATH2]

The system default, one top-level display and two spaces, each with a default
record and two displays: eight records that can hold a screen saver. Most are
"individual"; one display has no "Idle" yet, the second space's default is
"linked" (its aerial is desktop and screen saver at once) and the top-level
display is "desktop" only: the installer makes those two "individual",
keeping what the desktop showed. "AllSpacesAndDisplays" is the string "$null".
With --second, PATH2 gets a store shaped like the Index2.plist of macOS 26:
three records, all "linked". Missing folders above the paths are created.
"""

import argparse
import datetime
import os
import plistlib

SET = datetime.datetime(2024, 11, 2, 9, 30, 0)
USED = datetime.datetime(2025, 3, 14, 18, 5, 12)


def slot(provider, configuration):
    return {
        "Content": {
            "Choices": [{
                "Provider": provider,
                "Configuration": plistlib.dumps(configuration, fmt=plistlib.FMT_BINARY),
                "Files": [],
            }],
            "Shuffle": "$null",
            "EncodedOptionValues": "$null",
        },
        "LastSet": SET,
        "LastUse": USED,
    }


def desktop(picture):
    url = "file:///System/Library/Desktop%20Pictures/" + picture
    return slot("com.apple.wallpaper.choice.image", {"type": "imageFile", "url": {"relative": url}})


def aerial(asset):
    return slot("com.apple.wallpaper.choice.aerials", {"assetID": asset})


def legacy_saver(name):
    url = "file:///System/Library/Screen%20Savers/" + name + ".saver"
    return slot("com.apple.wallpaper.choice.screen-saver", {"module": {"relative": url}})


def record(picture, idle=None):
    r = {"Type": "individual", "Desktop": desktop(picture)}
    if idle is not None:
        r["Idle"] = idle
    return r


def linked(asset):
    return {"Type": "linked", "Linked": aerial(asset)}


def second_store():
    main_display = "37D8832A-2D66-02CA-B9F7-8F30A301B230"
    return {
        "SystemDefault": linked("4C108785-A7BA-422E-9C79-B0129F1D5550"),
        "AllSpacesAndDisplays": "$null",
        "Displays": {main_display: linked("B2FC91ED-6891-4DEB-85A1-268B2B4160B6")},
        "Spaces": {"": {"Default": linked("4C108785-A7BA-422E-9C79-B0129F1D5550"), "Displays": {}}},
    }


def store():
    main_display = "37D8832A-2D66-02CA-B9F7-8F30A301B230"
    side_display = "5B1F3C2E-8A4D-4E6B-9C1A-2F7E0D4B6A93"
    return {
        "SystemDefault": record("Sonoma.heic", aerial("4C108785-A7BA-422E-9C79-B0129F1D5550")),
        "AllSpacesAndDisplays": "$null",
        "Displays": {main_display: {"Type": "desktop", "Desktop": desktop("Sonoma.heic")}},
        "Spaces": {
            "": {
                "Default": record("Sonoma.heic", aerial("4C108785-A7BA-422E-9C79-B0129F1D5550")),
                "Displays": {
                    main_display: record("Ventura Graphic.heic", legacy_saver("Drift")),
                    side_display: record("Monterey Graphic.heic", legacy_saver("Flurry")),
                },
            },
            "0B8A51E6-1C64-4F3B-A0F7-61A7E1D92C4E": {
                "Default": linked("B2FC91ED-6891-4DEB-85A1-268B2B4160B6"),
                "Displays": {
                    main_display: record("Big Sur.heic", aerial("B2FC91ED-6891-4DEB-85A1-268B2B4160B6")),
                    side_display: record("Big Sur.heic"),  # no idle slot yet
                },
            },
        },
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path")
    parser.add_argument("--format", choices=["xml", "binary"], default="xml")
    parser.add_argument("--second")
    args = parser.parse_args()
    fmt = plistlib.FMT_XML if args.format == "xml" else plistlib.FMT_BINARY
    for path, tree in ((args.path, store()), (args.second, second_store())):
        if path is None:
            continue
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            plistlib.dump(tree, f, fmt=fmt, sort_keys=True)


if __name__ == "__main__":
    main()
