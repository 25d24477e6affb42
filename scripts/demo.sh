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
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
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
mkdir -p "$home"
python3 scripts/make_demo_store.py "$store"
cp "$store" "$sandbox/before.plist"

echo
echo "== the store before (XML; seven slots, one display still without an idle entry)"
"$bin/zeph-store" show "$store"

echo
echo "== HOME=\"$home\" zeph-installer --apply"
echo "   (no wallpaper agent runs here, so killall says so on the shared standard error)"
HOME="$home" "$bin/zeph-installer" --apply

echo
echo "== the backup (byte for byte the store before)"
for backup in "$home/Library/Application Support/zeph"/wallpaper-store-backup-*.plist; do
  echo "$backup"
  if cmp -s "$backup" "$sandbox/before.plist"; then echo "   identical to the store before the run"; fi
done

echo
echo "== the store after (binary, every idle slot on zeph)"
"$bin/zeph-store" show "$store"

python3 - "$sandbox/before.plist" "$store" <<'PY'
import plistlib, sys
def without_idle(v):
    if isinstance(v, dict):
        return {k: without_idle(x) for k, x in v.items() if k != "Idle"}
    if isinstance(v, list):
        return [without_idle(x) for x in v]
    return v
before, after = (plistlib.load(open(p, "rb")) for p in sys.argv[1:])
same = without_idle(before) == without_idle(after)
print("   everything beside the idle entries (Desktop, Type, Displays, ...) unchanged:", "yes" if same else "NO")
PY

echo
echo "== the installed saver"
find "$home/Library/Screen Savers" | sed "s|^$home|~|"
