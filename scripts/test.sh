#!/usr/bin/env bash
# The whole test suite from nothing: dependencies, the Apple-only sources and
# the macOS compile of everything, a normal build with warnings as errors, the
# same under AddressSanitizer + UndefinedBehaviorSanitizer, and a short run of
# every fuzzer. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
bash scripts/check-layers.sh
shellcheck -s sh packaging/macos/postinstall packaging/macos/login-apply packaging/macos/*.sh
shellcheck scripts/kill-campaign.sh
bash scripts/check-apple.sh
bash scripts/check-macos.sh

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DZEPH_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" ${target:+--target "$target"}
}

build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEPH_TESTS=ON
(cd build/release && ctest --output-on-failure -j "$jobs")
# A short kill campaign; the full one is `bash scripts/kill-campaign.sh`.
bash scripts/kill-campaign.sh --short build/release/bin/zeph-installer

build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZEPH_SANITIZE=ON -DZEPH_FAULT_INJECTION=ON -DZEPH_TESTS=ON \
  -DZEPH_BENCH=OFF
(cd build/sanitize && ctest --output-on-failure -j "$jobs")

if [ -f fuzz/CMakeLists.txt ]; then
  target=zeph_fuzzers build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DZEPH_FUZZ=ON -DZEPH_TESTS=OFF -DZEPH_BENCH=OFF
  bash scripts/fuzz.sh build/fuzz "${ZEPH_FUZZ_SECONDS:-60}"
fi
