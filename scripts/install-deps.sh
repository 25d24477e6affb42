#!/usr/bin/env bash
# Installs the Debian packages the build, tests, benchmarks and fuzzers need,
# when any is missing. Safe to run again.
set -euo pipefail
packages=(
  cmake g++ make pkg-config clang-14 libclang-rt-14-dev clang-format-14
  libcurl4-openssl-dev nlohmann-json3-dev libncurses-dev
  libgtest-dev
  libplist-dev libplist-utils python3 tmux util-linux psmisc strace ca-certificates shellcheck locales ccache
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# check-macos.sh installs Zig through npm. A machine that has npm from
# elsewhere keeps it: Debian's npm would conflict with another node.
command -v npm >/dev/null || missing+=(npm nodejs)
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A decimal-comma locale, so the tests that numbers ignore the process locale
# run instead of skipping.
if ! locale -a 2>/dev/null | grep -qiE '^de_DE\.utf-?8$'; then
  echo "generating locale de_DE.UTF-8"
  if grep -qE '^# *de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
    sed -i -E 's/^# *(de_DE\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  elif ! grep -qE '^de_DE\.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  fi
  locale-gen >/dev/null
fi
