#!/usr/bin/env python3
"""Writes a wallpaper store shaped like the ones found on real Macs.

    make_demo_store.py PATH [--format xml|binary]

The system default and two spaces, each with a default record and two
displays: seven idle slots, one of which (a display without "Idle") the
installer has to create. Beside the idle slots it carries what real stores
hold and a rewrite must keep: "Desktop" and "Type" in every record, a
top-level "AllSpacesAndDisplays" that is the string "$null", and a top-level
"Displays". Missing folders above PATH are created.
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


def store():
    main_display = "37D8832A-2D66-02CA-B9F7-8F30A301B230"
    side_display = "5B1F3C2E-8A4D-4E6B-9C1A-2F7E0D4B6A93"
    return {
        "SystemDefault": record("Sonoma.heic", aerial("4C108785-A7BA-422E-9C79-B0129F1D5550")),
        "AllSpacesAndDisplays": "$null",
        "Displays": {main_display: record("Sonoma.heic")},
        "Spaces": {
            "": {
                "Default": record("Sonoma.heic", aerial("4C108785-A7BA-422E-9C79-B0129F1D5550")),
                "Displays": {
                    main_display: record("Ventura Graphic.heic", legacy_saver("Drift")),
                    side_display: record("Monterey Graphic.heic", legacy_saver("Flurry")),
                },
            },
            "0B8A51E6-1C64-4F3B-A0F7-61A7E1D92C4E": {
                "Default": record("Big Sur.heic", legacy_saver("Arabesque")),
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
    args = parser.parse_args()
    folder = os.path.dirname(os.path.abspath(args.path))
    os.makedirs(folder, exist_ok=True)
    fmt = plistlib.FMT_XML if args.format == "xml" else plistlib.FMT_BINARY
    with open(args.path, "wb") as f:
        plistlib.dump(store(), f, fmt=fmt, sort_keys=True)


if __name__ == "__main__":
    main()
