#!/usr/bin/env bash
# The whole test suite from nothing: dependencies, the layer and format checks,
# the shell scripts' lint, the Apple-only sources and the macOS compile of
# everything, a normal build with warnings as errors and its tests, the same
# build and tests under AddressSanitizer and UndefinedBehaviorSanitizer, a
# short kill campaign, and a short run of every fuzzer. Safe to run
# again. Ends with the time each stage took.
#
#   bash scripts/test.sh           # everything (CI runs this)
#   bash scripts/test.sh --quick   # the everyday loop: the layer check, the
#                                  # release build and its tests
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *)
    sed -n '9,11p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac

jobs=$(nproc)
# Most tests spend their time waiting (on the installer they start, its fixed
# pause, a loopback server, a terminal), so twice as many run as there are cores.
test_jobs=$((jobs * 2))

times=()
started=$SECONDS
elapsed() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
summary() {
  local status=$?
  ((${#times[@]})) || return 0
  echo "== test.sh: $(elapsed $((SECONDS - started))) in all"
  printf '   %s\n' "${times[@]}"
  ((status == 0)) || echo "== test.sh: failed"
}
trap summary EXIT
stage() {  # stage NAME COMMAND...: runs it, noting how long it took
  local name=$1 start=$SECONDS
  shift
  echo "== test.sh: $name"
  if ! "$@"; then
    times+=("$(elapsed $((SECONDS - start)))  $name (failed)")
    return 1
  fi
  times+=("$(elapsed $((SECONDS - start)))  $name")
}

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -DZEPH_WERROR=ON "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" ${target:+--target "$target"}
}
run_tests() {  # run_tests DIR
  (cd "$1" && ctest --output-on-failure -j "$test_jobs")
}
shellcheck_all() {
  shellcheck scripts/*.sh
  shellcheck -s sh packaging/macos/postinstall packaging/macos/login-apply packaging/macos/*.sh
}

stage "dependencies" bash scripts/install-deps.sh

# One compile cache for every clone on this machine, beside Zig's: a fresh
# clone compiles only what no build here has compiled before. Paths in it are
# taken relative to the clone, and the folder is left out of the key, so a
# clone elsewhere finds the same entries (their debug information then names
# the folder of the first build). A launcher set beforehand is kept.
launcher=()
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_DIR=${CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/zeph/ccache}
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi

stage "layers" bash scripts/check-layers.sh
if ((!quick)); then
  stage "format" bash scripts/check-format.sh
  stage "shellcheck" shellcheck_all
  stage "Apple-only sources" bash scripts/check-apple.sh
  stage "macOS compile" bash scripts/check-macos.sh
fi

# The options scripts/demo.sh configures build/release with, so that neither
# command rebuilds what the other built.
stage "release build" build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPH_TESTS=ON
stage "release tests" run_tests build/release
((quick)) && exit 0

stage "sanitizer build" build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZEPH_SANITIZE=ON \
  -DZEPH_FAULT_INJECTION=ON -DZEPH_TESTS=ON -DZEPH_BENCH=OFF
stage "sanitizer tests" run_tests build/sanitize

# A short kill campaign (the full one is `bash scripts/kill-campaign.sh`);
# the sanitizer build's fault seam refuses the exchange rename for its last pass.
stage "kill campaign (short)" bash scripts/kill-campaign.sh --short build/release/bin/zeph-installer \
  build/sanitize/bin/zeph-installer

if [ -f fuzz/CMakeLists.txt ]; then
  target=zeph_fuzzers stage "fuzz build" build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DZEPH_FUZZ=ON -DZEPH_TESTS=OFF -DZEPH_BENCH=OFF
  seconds=${ZEPH_FUZZ_SECONDS:-60}
  stage "fuzzers (${seconds}s each)" bash scripts/fuzz.sh build/fuzz "$seconds"
fi
