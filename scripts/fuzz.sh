#!/usr/bin/env bash
# Runs every property-list fuzzer for SECONDS each (sequentially), starting
# from the committed seeds in a scratch copy so the repository is not touched.
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
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
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
failed=()
for t in "${targets[@]}"; do
  if [[ ${ZEPH_FUZZ_CORPUS:-0} == 1 ]]; then
    corpus=$repo/fuzz/corpus-$t
  else
    corpus=$scratch/corpus-$t
  fi
  mkdir -p "$corpus"
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
  echo "== $t: ${seconds}s from $(ls "$corpus" | wc -l) inputs"
  log=$scratch/$t.log
  if (cd "$scratch" && "$build/fuzz/${t}_fuzz" "${args[@]}" "$corpus") >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$log" || tail -n 3 "$log"
  else
    failed+=("$t")
    tail -n 60 "$log"
    for a in "$artifacts"/*; do
      [[ -e $a ]] && echo "replay: $build/fuzz/${t}_fuzz $a"
    done
  fi
done
if ((${#failed[@]})); then
  echo "fuzzers that failed: ${failed[*]}" >&2
  exit 1
fi
echo "all fuzzers ran clean"
