#!/usr/bin/env bash
# Builds the tools and demonstrates them on a sample store, in a sandbox; the
# real home is never touched. Safe to run again.
#
# A headless install into a made-up home: the store's idle slots before, the
# result line, the backup taken, and the slots after. Set ZEPH_DEMO_KEEP=1 to
# keep the sandbox for a look around, ZEPH_BUILD_DIR to build elsewhere than
# build/release.
set -euo pipefail
cd "$(dirname "$0")/.."

# On a Mac the run would restart the real wallpaper agent and write the real
# screen-saver preferences; the sandbox only isolates the files.
if [ "$(uname -s)" = Darwin ]; then
  echo "demo.sh runs on Linux only: on macOS, zeph-installer --apply changes the real system" >&2
  exit 1
fi

bash scripts/install-deps.sh
build=${ZEPH_BUILD_DIR:-build/release}
# The options scripts/test.sh builds build/release with: a change of options
# would compile everything again for the other command.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPH_WERROR=ON -DZEPH_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target zeph-installer zeph-store
bin=$build/bin

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/zeph-demo.XXXXXX")
if [ "${ZEPH_DEMO_KEEP:-0}" = 1 ]; then
  echo "sandbox kept: $sandbox"
else
  trap 'rm -rf "$sandbox"' EXIT
fi
home="$sandbox/Users/Zoë Smith"
store="$home/Library/Application Support/com.apple.wallpaper/Store/Index.plist"
store2="$(dirname "$store")/Index2.plist"
mkdir -p "$home"
python3 scripts/make_demo_store.py "$store" --second "$store2"
cp "$store" "$sandbox/before.plist"
cp "$store2" "$sandbox/before2.plist"

echo
echo "== the stores before (XML; Index.plist: eight slots, one linked, one desktop only, one display"
echo "   without an idle entry; Index2.plist, as macOS 26 keeps beside it: three linked records)"
"$bin/zeph-store" show "$store"

echo
echo "== HOME=\"$home\" zeph-installer --apply"
echo "   (no wallpaper agent runs here, so killall says so on the shared standard error)"
HOME="$home" "$bin/zeph-installer" --apply

echo
echo "== the backups (byte for byte the stores before, one series per store)"
for backup in "$home/Library/Application Support/zeph"/wallpaper-store*-backup-*.plist; do
  echo "$backup"
  for before in "$sandbox/before.plist" "$sandbox/before2.plist"; do
    if cmp -s "$backup" "$before"; then echo "   identical to $(basename "$before" | sed 's/before/the store before/')"; fi
  done
done

echo
echo "== the stores after (binary, the saver in every slot; linked and desktop records made individual)"
"$bin/zeph-store" show "$store"

python3 - "$sandbox/before.plist" "$store" "$sandbox/before2.plist" "$store2" <<'PY'
import plistlib, sys
# What the installer is to leave: each record as it was, less "Idle"; a
# linked record's "Linked" entry as "Desktop" of an individual record; a
# desktop record made individual.
def records(root):
    found = [root[k] for k in ("SystemDefault", "AllSpacesAndDisplays") if isinstance(root.get(k), dict)]
    found += [d for d in root.get("Displays", {}).values() if isinstance(d, dict)]
    for space in root.get("Spaces", {}).values():
        if isinstance(space.get("Default"), dict): found.append(space["Default"])
        found += [d for d in space.get("Displays", {}).values() if isinstance(d, dict)]
    return found
def expected(record):
    r = {k: v for k, v in record.items() if k != "Idle"}
    if r.get("Type") == "linked":
        r["Desktop"] = r.pop("Linked")
    if r.get("Type") in ("linked", "desktop"):
        r["Type"] = "individual"
    return r
for old_path, new_path in ((sys.argv[1], sys.argv[2]), (sys.argv[3], sys.argv[4])):
    before, after = (plistlib.load(open(p, "rb")) for p in (old_path, new_path))
    olds, news = records(before), records(after)
    same = len(olds) == len(news) and all(expected(o) == {k: v for k, v in n.items() if k != "Idle"}
                                           for o, n in zip(olds, news))
    print("   " + new_path.rsplit("/", 1)[1] + ": every desktop as it was shown, the rest unchanged:",
          "yes" if same else "NO")
PY

echo
echo "== the installed saver"
find "$home/Library/Screen Savers" | sed "s|^$home|~|"
