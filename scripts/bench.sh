#!/usr/bin/env bash
# Builds the release configuration and runs the codec benchmark: our property-
# list codec against libplist and CPython's plistlib on a large generated
# wallpaper store. Extra arguments go to codec_bench (e.g. --reps 3, --check).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DZEPH_TESTS=OFF >/dev/null
cmake --build build/bench -j "$(nproc)" --target codec_bench store_rewrite_bench
build/bench/bench/codec_bench "$@"
build/bench/bench/store_rewrite_bench
