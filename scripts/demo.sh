#!/usr/bin/env bash
# Builds the tools and demonstrates them on a sample store, in a sandbox; the
# real home is never touched. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target zeph-installer zeph-store
