#!/usr/bin/env bash
# A real run of the built programs on this account: what the store holds, an
# unattended apply, the compliance check, the uninstall and the check again,
# each step with its command, its output, its exit status and what was
# expected, then a summary. The macOS runners of the workflow run it on their
# own logged-in user; its log alone says what happened.
#
#   scripts/mac-run.sh BIN_DIR OUT_DIR
#
# BIN_DIR holds zeph-installer and zeph-store (the app's Contents/MacOS).
# OUT_DIR receives each step's output (steps/) and the stores and backups
# before, after the apply and after the uninstall, for the workflow to keep. Exits 0 when every step answered as
# expected, 1 when one did not, 2 on a wrong command.
#
# It changes the real screen-saver settings of whoever runs it (on a Mac: the
# wallpaper store, the legacy selection, the wallpaper agent): run it on a
# throw-away machine, or with HOME pointing at a sandbox and a test build.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BIN_DIR OUT_DIR" >&2
  exit 2
fi
bin=$1
out=$2
installer=$bin/zeph-installer
store_tool=$bin/zeph-store
for program in "$installer" "$store_tool"; do
  if [ ! -x "$program" ]; then
    echo "mac-run: $program is not an executable program" >&2
    exit 2
  fi
done
mkdir -p "$out/steps" || exit 2

support="$HOME/Library/Application Support"
store_dir="$support/com.apple.wallpaper/Store"
backup_dir="$support/zeph"
saver="$HOME/Library/Screen Savers/zeph.saver"

# TEXT as an extended regular expression that matches it literally.
# shellcheck disable=SC2016  # the $ in the bracket is a character to escape
literally() { printf '%s' "$1" | sed 's/[][\\.*^$(){}+?|]/\\&/g'; }

# GitHub folds what lies between these lines; elsewhere they read as headings.
group() { echo "::group::$1"; }
endgroup() { echo "::endgroup::"; }

summary=()   # one line per step: verdict, name, exit status, expectation
failures=0
step_number=0

# check NAME EXPECTED_STATUS LINE_PATTERN -- COMMAND...
# Runs COMMAND, shows it, its standard output and error and its exit status,
# and checks the status and the first line of standard output (an extended
# regular expression, matched whole).
check() {
  local name=$1 expected=$2 pattern=$3
  shift 4
  step_number=$((step_number + 1))
  local base
  base="$out/steps/$(printf '%02d' "$step_number")-$(printf '%s' "$name" | tr -cs 'A-Za-z0-9' '-')"
  group "$name"
  echo "\$ $*"
  "$@" >"$base.out" 2>"$base.err"
  local status=$?
  if [ -s "$base.out" ]; then
    echo "--- standard output"
    cat "$base.out"
  fi
  if [ -s "$base.err" ]; then
    echo "--- standard error"
    cat "$base.err"
  fi
  local line=""
  IFS= read -r line <"$base.out"
  local verdict=ok why="" detail="exit $status (expected $expected)"
  if [ "$status" -ne "$expected" ]; then
    verdict=FAILED
    why="exit $status, expected $expected"
  elif ! [[ $line =~ ^($pattern)$ ]]; then
    verdict=FAILED
    why="first line \"$line\" does not match \"$pattern\""
    detail="$detail, first line unexpected"
  fi
  echo "--- exit status $status (expected $expected); first line expected to match: $pattern"
  echo "--- $verdict${why:+: $why}"
  endgroup
  if [ "$verdict" != ok ]; then
    failures=$((failures + 1))
    echo "::error title=$name::$why"
  fi
  record "$verdict" "$name" "$detail"
  last_line=$line
}

# record VERDICT NAME DETAIL: one line of the summary.
record() {
  summary+=("$(printf '%-6s  %-24s  %s' "$1" "$2" "$3")")
}

# The status line just checked names zeph on every slot of each store, and
# each store has slots.
expect_every_slot() {
  local name="every slot zeph"
  local counts=$last_line verdict=ok
  while [[ $counts =~ zeph\ on\ ([0-9]+)\ of\ ([0-9]+)(.*) ]]; do
    if [ "${BASH_REMATCH[1]}" != "${BASH_REMATCH[2]}" ] || [ "${BASH_REMATCH[2]}" = 0 ]; then verdict=FAILED; fi
    counts=${BASH_REMATCH[3]}
  done
  echo "--- $name in \"$last_line\": $verdict"
  if [ "$verdict" != ok ]; then
    failures=$((failures + 1))
    echo "::error title=$name::$last_line"
  fi
  record "$verdict" "$name" "$last_line"
}

# snapshot NAME: the stores and backups as they are now, into OUT_DIR/NAME.
snapshot() {
  local target="$out/$1"
  mkdir -p "$target"
  if [ -d "$store_dir" ]; then cp -pR "$store_dir" "$target/Store"; fi
  if [ -d "$backup_dir" ]; then cp -pR "$backup_dir" "$target/zeph"; fi
  echo "saved the stores and backups as they are now in $target"
}

group "Where this runs"
echo "account: $(id -un) (uid $(id -u)); HOME=$HOME"
uname -a
if command -v sw_vers >/dev/null; then sw_vers; fi
"$installer" --version
"$store_tool" --version
has_store=no
for name in Index.plist Index2.plist; do
  if [ -e "$store_dir/$name" ]; then
    has_store=yes
    ls -l "$store_dir/$name"
  fi
done
if [ "$has_store" = yes ]; then
  echo "this account has a wallpaper store: the apply must set every screensaver slot"
else
  echo "this account has no wallpaper store ($store_dir/Index.plist): the apply installs the"
  echo "saver and sets no slot, and status answers \"no wallpaper store\" (exit 3) throughout"
fi
endgroup

# status: Index.plist's count, Index2.plist's where there is one, and whether
# the saver is missing.
slots='(zeph on [0-9]+ of [0-9]+ screensaver slots|no Index\.plist)(; Index2\.plist: zeph on [0-9]+ of [0-9]+ screensaver slots)?'
no_slots='(zeph on 0 of [0-9]+ screensaver slots|no Index\.plist)(; Index2\.plist: zeph on 0 of [0-9]+ screensaver slots)?'
saver_missing="; the saver is missing from $(literally "$saver")"
installed="installed $(literally "$saver")"
snapshot before
if [ "$has_store" = yes ]; then
  check "show --json" 0 '\{.*' -- "$store_tool" show --json
  # A runner's account is fresh: no zeph yet.
  check "status before" 3 "$slots$saver_missing" -- "$store_tool" status
  check "apply" 0 "$installed; [1-9][0-9]* screensaver slots set to zeph" -- "$installer" --apply
  check "status after apply" 0 "$slots" -- "$store_tool" status
  expect_every_slot
  snapshot after-apply
  check "uninstall" 0 'uninstalled; [1-9][0-9]* screensaver slots restored' -- "$installer" --uninstall
  check "status after uninstall" 3 "$no_slots$saver_missing" -- "$store_tool" status
else
  check "show --json" 0 '\{.*"stores":\[\].*' -- "$store_tool" show --json
  check "status before" 3 'no wallpaper store' -- "$store_tool" status
  check "apply" 0 "$installed; 0 screensaver slots set to zeph" -- "$installer" --apply
  check "status after apply" 3 'no wallpaper store' -- "$store_tool" status
  snapshot after-apply
  check "uninstall" 0 'uninstalled; 0 screensaver slots restored' -- "$installer" --uninstall
  check "status after uninstall" 3 'no wallpaper store' -- "$store_tool" status
fi
snapshot after-uninstall

group "Summary"
printf '%s\n' "${summary[@]}"
if [ "$failures" -eq 0 ]; then
  echo "every step answered as expected (wallpaper store: $has_store)"
else
  echo "$failures step(s) did not answer as expected (wallpaper store: $has_store)"
fi
endgroup
if [ -n "${GITHUB_STEP_SUMMARY:-}" ]; then
  {
    echo "### zeph on $(sw_vers -productVersion 2>/dev/null || uname -sr), wallpaper store: $has_store"
    echo '```'
    printf '%s\n' "${summary[@]}"
    echo '```'
  } >>"$GITHUB_STEP_SUMMARY"
fi
[ "$failures" -eq 0 ]
