#!/usr/bin/env bash
# Runs every property-list fuzzer for SECONDS each, as many at once as there
# are cores (ZEPH_FUZZ_AT_ONCE overrides it), starting from the committed seeds
# in a scratch copy so the repository is not touched.
# Exits non-zero when any fuzzer finds a crash, leak, timeout or out-of-memory.
#
#   scripts/fuzz.sh BUILD_DIR SECONDS [TARGET...]
#     BUILD_DIR  a build with -DZEPH_FUZZ=ON (clang++-14); built here if needed
#     TARGET     binary_reader, xml_reader, openstep_reader, binary_roundtrip (default: all)
#
# Longer campaigns: ZEPH_FUZZ_CORPUS=1 keeps the grown corpus in
# fuzz/corpus-<target>/ (ignored by git) and starts from it the next time;
# ZEPH_FUZZ_JOBS=N runs N fuzzing processes per target. Crash inputs land in
# BUILD_DIR/fuzz-artifacts/<target>/, with the command that replays them.
set -euo pipefail
if (($# < 2)); then
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
((${#targets[@]})) || targets=(binary_reader xml_reader openstep_reader binary_roundtrip)
jobs=${ZEPH_FUZZ_JOBS:-1}

cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzz}" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# fuzz TARGET: one campaign; its report goes to $scratch/TARGET.report and
# its outcome to $scratch/TARGET.failed when it found something.
fuzz() {
  local t=$1 corpus artifacts log args
  if [[ ${ZEPH_FUZZ_CORPUS:-0} == 1 ]]; then
    corpus=$repo/fuzz/corpus-$t
  else
    corpus=$scratch/corpus-$t
  fi
  mkdir -p "$corpus" "$scratch/$t"
  cp -n "$repo/fuzz/seeds/$t/"* "$corpus/" 2>/dev/null || true
  artifacts=$build/fuzz-artifacts/$t
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536
        -print_final_stats=1 -artifact_prefix="$artifacts/")
  [[ -f $repo/fuzz/$t.dict ]] && args+=(-dict="$repo/fuzz/$t.dict")
  if ((jobs > 1)); then
    args+=(-jobs="$jobs" -workers="$jobs")
  fi
  log=$scratch/$t.log
  {
    echo "== $t: ${seconds}s from $(find "$corpus" -type f | wc -l) inputs"
    # Each in a folder of its own: with -jobs, libFuzzer writes fuzz-N.log there.
    if (cd "$scratch/$t" && "$build/fuzz/${t}_fuzz" "${args[@]}" "$corpus") >"$log" 2>&1; then
      grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$log" || tail -n 3 "$log"
    else
      touch "$scratch/$t.failed"
      tail -n 60 "$log"
      for a in "$artifacts"/*; do
        [[ -e $a ]] && echo "replay: $build/fuzz/${t}_fuzz $a"
      done
    fi
  } >"$scratch/$t.report"
  return 0
}

# As many campaigns at once as there are cores for their processes: each is
# one process (or ZEPH_FUZZ_JOBS), busy the whole time.
at_once=${ZEPH_FUZZ_AT_ONCE:-$(($(nproc) / jobs))}
((at_once >= 1)) || at_once=1
running=0
for t in "${targets[@]}"; do
  if ((running >= at_once)); then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz "$t" &
  running=$((running + 1))
done
wait

failed=()
for t in "${targets[@]}"; do
  if [[ ! -e $scratch/$t.report ]]; then
    echo "== $t: did not run to the end"
    failed+=("$t")
    continue
  fi
  cat "$scratch/$t.report"
  if [[ -e $scratch/$t.failed ]]; then failed+=("$t"); fi
done
if ((${#failed[@]})); then
  echo "fuzzers that failed: ${failed[*]}" >&2
  exit 1
fi
echo "all fuzzers ran clean"
