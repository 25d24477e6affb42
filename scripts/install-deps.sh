#!/usr/bin/env bash
# Installs the Debian packages the build, tests, benchmarks and fuzzers need,
# when any is missing. Safe to run again.
set -euo pipefail
packages=(
  cmake g++ make pkg-config clang-14 libclang-rt-14-dev
  libcurl4-openssl-dev nlohmann-json3-dev libncurses-dev
  libgtest-dev
  libplist-dev libplist-utils python3 tmux util-linux psmisc strace ca-certificates shellcheck
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
