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
#
# The kills are independent of each other and mostly wait (on the agent pause
# of each mending run), so they run in lanes side by side, each lane a sandbox
# of its own working through every lane-th kill: twice as many lanes as cores
# (ZEPH_KILL_LANES overrides it).
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
lanes=${ZEPH_KILL_LANES:-$(($(nproc) * 2))}

# The first home of every --apply: made once, copied for each kill. Nothing in
# it names the folder it is in, so every lane can start from it.
mkdir -p "$work/template/home"
echo "stores: $($check make "$work/template/home" "$slots")"

# A lane's state: its folder ($lane), the installer it runs and what it counted.
lane='' runs=0 kills=0 failures=0
fresh_home() {
  rm -rf "${lane:?}/home" "$lane"/pre*.plist
  cp -a "$work/template/home" "$work"/template/original-*.plist "$lane/"
}
verify() {  # verify LABEL: the state after a kill, then a repairing run
  local label=$1
  runs=$((runs + 1))
  if ! out=$($check check "$lane/home"); then
    echo "$label: after the kill: $out"; failures=$((failures + 1)); return
  fi
  local store="$lane/home/Library/Application Support/com.apple.wallpaper/Store"
  cp "$store/Index.plist" "$lane/pre.plist"
  cp "$store/Index2.plist" "$lane/pre2.plist"
  if ! HOME="$lane/home" "$installer" --apply >"$lane/out" 2>"$lane/err"; then
    echo "$label: the next run failed: $(grep '^error:' "$lane/err" || true)"; failures=$((failures + 1)); return
  fi
  if ! out=$($check check "$lane/home" --settled --also "$lane/pre.plist" --also2 "$lane/pre2.plist"); then
    echo "$label: after the next run: $out"; failures=$((failures + 1))
  fi
}

# The home --uninstall starts from: the one a whole --apply left, made once in
# each lane, since its stores name the saver by the path they were written at.
applied_home() {
  [ -d "$lane/applied-home" ] && return
  fresh_home
  HOME="$lane/home" "$installer" --apply >/dev/null 2>&1
  local store="$lane/home/Library/Application Support/com.apple.wallpaper/Store"
  cp "$store/Index.plist" "$lane/applied-Index.plist"
  cp "$store/Index2.plist" "$lane/applied-Index2.plist"
  cp -a "$lane/home" "$lane/applied-home"
}
uninstall_home() {
  applied_home
  rm -rf "${lane:?}/home"
  cp -a "$lane/applied-home" "$lane/home"
}
verify_uninstall() {  # verify_uninstall LABEL: the state after a kill, then a mending run
  local label=$1
  runs=$((runs + 1))
  if ! out=$($check check-uninstall "$lane/home"); then
    echo "$label: after the kill: $out"; failures=$((failures + 1)); return
  fi
  if ! HOME="$lane/home" "$installer" --uninstall >"$lane/out" 2>"$lane/err"; then
    echo "$label: the next run failed: $(grep '^error:' "$lane/err" || true)"; failures=$((failures + 1)); return
  fi
  if ! out=$($check check-uninstall "$lane/home" --settled); then
    echo "$label: after the next run: $out"; failures=$((failures + 1))
  fi
}

# One kill: "exact N" at the Nth call of SYSCALLS, or "random" at an instant
# within a run before its agent pause; then the checks.
kill_once() {  # kill_once MODE SYSCALLS exact N | MODE - random I
  local mode=$1 syscalls=$2 how=$3 n=$4 pid label
  if [ "$mode" = --apply ]; then fresh_home; else uninstall_home; fi
  if [ "$how" = exact ]; then
    label="$mode $syscalls #$n"
    # In the background, so that the shell does not report the kill.
    HOME="$lane/home" strace -f -qq -o /dev/null -e trace="$syscalls" \
      -e inject="$syscalls":signal=KILL:when="$n" "$installer" "$mode" >/dev/null 2>&1 &
    wait $! 2>/dev/null || true
    kills=$((kills + 1))
  else
    label="$mode random kill $n"
    HOME="$lane/home" "$installer" "$mode" >/dev/null 2>&1 &
    pid=$!
    sleep "0.$(printf '%03d' $((RANDOM % 400)))"
    kill -KILL "$pid" 2>/dev/null && kills=$((kills + 1))
    wait "$pid" 2>/dev/null || true
  fi
  [ -n "${ZEPH_FAULT:-}" ] && label="no exchange: $label"
  if [ "$mode" = --apply ]; then verify "$label"; else verify_uninstall "$label"; fi
}

# run_lane K: every lane-th line of $work/kills from the K-th, each
# "INSTALLER FAULT MODE SYSCALLS HOW N" (FAULT "-" for none), in $work/lane-K;
# what it counted goes to $work/lane-K/counted.
run_lane() {
  lane=$work/lane-$1
  mkdir -p "$lane"
  local line=0 kind fault mode syscalls how n
  while read -r kind fault mode syscalls how n; do
    line=$((line + 1))
    (((line - 1) % lanes == $1)) || continue
    installer=$kind
    if [ "$fault" = - ]; then unset ZEPH_FAULT; else export ZEPH_FAULT=$fault; fi
    kill_once "$mode" "$syscalls" "$how" "$n"
  done <"$work/kills"
  echo "$runs $kills $failures" >"$lane/counted"
}

# Each syscall's calls in one whole run, children included, in a lane of its own.
count_calls() {  # count_calls K SYSCALLS MODE: the count into $work/count-K
  lane=$work/count-$1
  mkdir -p "$lane"
  if [ "$3" = --apply ]; then fresh_home; else uninstall_home; fi
  HOME="$lane/home" strace -f -qq -e trace="$2" -e signal=none -o "$lane/trace" "$installer" "$3" \
    >/dev/null 2>&1 || true
  grep -cvE 'resumed>|exited with|killed by' "$lane/trace" >"$lane/calls" || true
}

# A file system without the exchange rename: the bundle goes in with two
# renames, and a kill between them leaves the new copy and the old one aside.
seam_probe() {
  lane=$work/probe
  mkdir -p "$lane"
  fresh_home
  HOME="$lane/home" ZEPH_FAULT=renamex:1:EINVAL "$1" --apply 2>&1 >/dev/null | grep -q '^zeph fault: renamex'
}
groups=()  # "INSTALLER FAULT MODE SYSCALLS"
no_exchange=0
for mode in --apply --uninstall; do
  for syscalls in write rename,renameat,renameat2 link,linkat fsync,fdatasync unlink,unlinkat; do
    groups+=("$installer - $mode $syscalls")
  done
done
if [ -x "$seam_installer" ] && seam_probe "$seam_installer"; then
  seam_installer=$(realpath "$seam_installer")
  no_exchange=1
  for syscalls in rename,renameat,renameat2 write; do
    groups+=("$seam_installer renamex:*:EINVAL --apply $syscalls")
  done
elif ((short)); then
  echo "no exchange: skipped, $seam_installer has no fault seam (build with -DZEPH_FAULT_INJECTION=ON)"
else
  echo "no exchange: $seam_installer has no fault seam; build it with -DZEPH_FAULT_INJECTION=ON" >&2
  failures=$((failures + 1))
fi

count_group() {  # count_group K: count_calls for the K-th group
  local installer fault mode syscalls
  read -r installer fault mode syscalls <<<"${groups[$1]}"
  [ "$fault" = - ] || export ZEPH_FAULT=$fault
  count_calls "$1" "$syscalls" "$mode"
}
for ((k = 0; k < ${#groups[@]}; k++)); do
  count_group "$k" &
  if (((k + 1) % lanes == 0)); then wait; fi
done
wait

: >"$work/kills"
for ((k = 0; k < ${#groups[@]}; k++)); do
  read -r kind fault mode syscalls <<<"${groups[k]}"
  total=$(cat "$work/count-$k/calls")
  step=1
  if ((short)) && ((total > 12)); then step=$((total / 12)); fi
  label=$mode
  [ "$fault" = - ] || label="no exchange: $mode"
  echo "$label $syscalls: $total calls in a run, killing at every ${step}"
  for ((n = 1; n <= total; n += step)); do echo "$kind $fault $mode $syscalls exact $n"; done >>"$work/kills"
done
for mode in --apply --uninstall; do
  for ((i = 0; i < randoms; i++)); do echo "$installer - $mode - random $i"; done >>"$work/kills"
done
if ((no_exchange)); then
  for ((i = 0; i < randoms / 2; i++)); do echo "$seam_installer renamex:*:EINVAL --apply - random $i"; done >>"$work/kills"
fi
echo "$(wc -l <"$work/kills") kills in $lanes lanes"

for ((k = 0; k < lanes; k++)); do run_lane "$k" & done
wait
for ((k = 0; k < lanes; k++)); do
  read -r lane_runs lane_kills lane_failures <"$work/lane-$k/counted"
  runs=$((runs + lane_runs)) kills=$((kills + lane_kills)) failures=$((failures + lane_failures))
done

echo "kill campaign: $kills kills, $runs checks, $failures failures"
((failures == 0))
