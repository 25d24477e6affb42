#!/usr/bin/env bash
# Kills `zeph-installer --apply` at exact points and at random instants, in a
# sandbox home holding a multi-megabyte store and the second store macOS 26
# keeps beside it, and checks after each kill that every file is as it was or
# completely new, the second store never older than the first, and every backup
# complete; then runs it again unkilled and checks that it mends what the kill
# left. Then the same for `--uninstall`, in the home a whole --apply left.
#
#   bash scripts/kill-campaign.sh [--short] [INSTALLER [SEAM_INSTALLER]]
#
# Exact points: strace's fault injection delivers SIGKILL at the Nth call of
# each of write, rename(at2), link(at) and fsync, N walked over every call a
# run makes. Then the same over a file system without the exchange rename,
# where the bundle is swapped in with two renames: SEAM_INSTALLER (default
# build/sanitize/bin/zeph-installer), a build with -DZEPH_FAULT_INJECTION=ON,
# has every exchange and no-replace rename refused (ZEPH_FAULT=renamex:*:EINVAL);
# the full run needs it, the short one skips that part without it. Needs
# strace and python3; never touches the real home.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each run ends "WallpaperAgent" by name through killall: in a PID namespace of
# its own it can reach no process of this machine.
if [ -z "${ZEPH_KILL_CAMPAIGN_ISOLATED:-}" ]; then
  isolate=(unshare --pid --fork --mount-proc)
  [ "$(id -u)" = 0 ] || isolate=(unshare --user --map-root-user --pid --fork --mount-proc)
  ZEPH_KILL_CAMPAIGN_ISOLATED=1 exec "${isolate[@]}" bash "$0" "$@"
fi
short=0
if [ "${1:-}" = "--short" ]; then short=1; shift; fi
installer=$(realpath "${1:-build/release/bin/zeph-installer}")
seam_installer=${2:-build/sanitize/bin/zeph-installer}
check="python3 $(pwd)/scripts/kill_campaign_check.py"
work=$(mktemp -d "${TMPDIR:-/tmp}/zeph-kill-XXXXXX")
trap 'rm -rf "$work"' EXIT
slots=$((short ? 4000 : 15000))
randoms=$((short ? 5 : 100))

runs=0 kills=0 failures=0
fresh_home() {
  rm -rf "${work:?}/home" "$work"/original-*.plist "$work"/pre*.plist
  mkdir -p "$work/home"
  $check make "$work/home" "$slots" >/dev/null
}
verify() {  # verify LABEL: the state after a kill, then a repairing run
  local label=$1
  runs=$((runs + 1))
  if ! out=$($check check "$work/home"); then
    echo "$label: after the kill: $out"; failures=$((failures + 1)); return
  fi
  local store="$work/home/Library/Application Support/com.apple.wallpaper/Store"
  cp "$store/Index.plist" "$work/pre.plist"
  cp "$store/Index2.plist" "$work/pre2.plist"
  if ! HOME="$work/home" "$installer" --apply >"$work/out" 2>"$work/err"; then
    echo "$label: the next run failed: $(grep '^error:' "$work/err" || true)"; failures=$((failures + 1)); return
  fi
  if ! out=$($check check "$work/home" --settled --also "$work/pre.plist" --also2 "$work/pre2.plist"); then
    echo "$label: after the next run: $out"; failures=$((failures + 1))
  fi
}

# The home --uninstall starts from: the one a whole --apply left, kept once.
applied_home() {
  fresh_home
  HOME="$work/home" "$installer" --apply >/dev/null 2>&1
  local store="$work/home/Library/Application Support/com.apple.wallpaper/Store"
  cp "$store/Index.plist" "$work/applied-Index.plist"
  cp "$store/Index2.plist" "$work/applied-Index2.plist"
  rm -rf "${work:?}/applied-home"
  cp -a "$work/home" "$work/applied-home"
}
uninstall_home() {
  rm -rf "${work:?}/home"
  cp -a "$work/applied-home" "$work/home"
}
verify_uninstall() {  # verify_uninstall LABEL: the state after a kill, then a mending run
  local label=$1
  runs=$((runs + 1))
  if ! out=$($check check-uninstall "$work/home"); then
    echo "$label: after the kill: $out"; failures=$((failures + 1)); return
  fi
  if ! HOME="$work/home" "$installer" --uninstall >"$work/out" 2>"$work/err"; then
    echo "$label: the next run failed: $(grep '^error:' "$work/err" || true)"; failures=$((failures + 1)); return
  fi
  if ! out=$($check check-uninstall "$work/home" --settled); then
    echo "$label: after the next run: $out"; failures=$((failures + 1))
  fi
}

# Each syscall's calls in one whole run, children included.
count_calls() {  # count_calls SYSCALLS MODE
  if [ "$2" = --apply ]; then fresh_home; else uninstall_home; fi
  HOME="$work/home" strace -f -qq -e trace="$1" -e signal=none -o "$work/trace" "$installer" "$2" \
    >/dev/null 2>&1 || true
  grep -cvE 'resumed>|exited with|killed by' "$work/trace" || true
}

exact_kills() {  # exact_kills LABEL MODE PREPARE AFTER SYSCALLS...: a kill at every call of each
  local label=$1 mode=$2 prepare=$3 after=$4 syscalls total step n
  shift 4
  for syscalls in "$@"; do
    total=$(count_calls "$syscalls" "$mode")
    step=1
    if ((short)) && ((total > 12)); then step=$((total / 12)); fi
    echo "$label$mode $syscalls: $total calls in a run, killing at every ${step}"
    for ((n = 1; n <= total; n += step)); do
      $prepare
      # In the background, so that the shell does not report the kill.
      HOME="$work/home" strace -f -qq -o /dev/null -e trace="$syscalls" \
        -e inject="$syscalls":signal=KILL:when="$n" "$installer" "$mode" >/dev/null 2>&1 &
      wait $! 2>/dev/null || true
      kills=$((kills + 1))
      $after "$label$mode $syscalls #$n"
    done
  done
}

random_kills() {  # random_kills LABEL MODE PREPARE AFTER COUNT: at instants within a run before its agent pause
  local label=$1 mode=$2 prepare=$3 after=$4 i pid
  for ((i = 0; i < $5; i++)); do
    $prepare
    HOME="$work/home" "$installer" "$mode" >/dev/null 2>&1 &
    pid=$!
    sleep "0.$(printf '%03d' $((RANDOM % 400)))"
    kill -KILL "$pid" 2>/dev/null && kills=$((kills + 1))
    wait "$pid" 2>/dev/null || true
    $after "$label$mode random kill $i"
  done
}

for mode in --apply --uninstall; do
  if [ "$mode" = --apply ]; then
    prepare=fresh_home after=verify
  else
    applied_home
    prepare=uninstall_home after=verify_uninstall
  fi
  exact_kills "" "$mode" "$prepare" "$after" write rename,renameat,renameat2 link,linkat fsync,fdatasync unlink,unlinkat
  random_kills "" "$mode" "$prepare" "$after" "$randoms"
done

# A file system without the exchange rename: the bundle goes in with two
# renames, and a kill between them leaves the new copy and the old one aside.
seam_probe() {
  fresh_home
  HOME="$work/home" ZEPH_FAULT=renamex:1:EINVAL "$1" --apply 2>&1 >/dev/null | grep -q '^zeph fault: renamex'
}
if [ -x "$seam_installer" ] && seam_probe "$seam_installer"; then
  installer=$(realpath "$seam_installer")
  export ZEPH_FAULT="renamex:*:EINVAL"
  exact_kills "no exchange: " --apply fresh_home verify rename,renameat,renameat2 write
  random_kills "no exchange: " --apply fresh_home verify $((randoms / 2))
  unset ZEPH_FAULT
elif ((short)); then
  echo "no exchange: skipped, $seam_installer has no fault seam (build with -DZEPH_FAULT_INJECTION=ON)"
else
  echo "no exchange: $seam_installer has no fault seam; build it with -DZEPH_FAULT_INJECTION=ON" >&2
  failures=$((failures + 1))
fi

echo "kill campaign: $kills kills, $runs checks, $failures failures"
((failures == 0))
