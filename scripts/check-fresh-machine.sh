#!/usr/bin/env bash
# Runs the README's two commands on a Debian 12 that has nothing installed:
# a bare root made with debootstrap, a clean clone of COMMIT copied into it,
# then `bash scripts/demo.sh` and `bash scripts/test.sh` inside it (chroot).
# This is what CI's Debian job and a new developer start from; a package the
# scripts forget to install shows here and nowhere else. Slow (a whole test
# run plus the system and the packages): not part of scripts/test.sh.
#
#   scripts/check-fresh-machine.sh [COMMIT]     (root; default: HEAD)
#
# ZEPH_FRESH_DIR   where the root is made (default: a new folder in /var/tmp)
# ZEPH_FRESH_KEEP  1 keeps the root afterwards, for a look around
# ZEPH_DEBIAN_MIRROR  the Debian mirror (default: the one apt uses here)
#
# The mounts (debootstrap's, then /proc, /sys, /dev, /dev/pts and a /tmp of
# its own) live in mount namespaces of this run only, so a run that is killed
# leaves none behind.
# shellcheck disable=SC2317 # the functions below run through step and trap
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$repo" rev-parse --verify "${1:-HEAD}^{commit}")

if [ "$(id -u)" != 0 ]; then
  echo "check-fresh-machine: run as root (debootstrap, chroot and mounts need it)" >&2
  exit 1
fi

# The mirrors apt uses on this machine, from either source format.
apt_uris() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -nE 's/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([a-z]+:[^[:space:]]+).*/\2/p'
  cat /etc/apt/sources.list.d/*.sources 2>/dev/null | sed -nE 's/^URIs:[[:space:]]*//p' | tr ' ' '\n'
}
mirror=${ZEPH_DEBIAN_MIRROR:-$(apt_uris | grep -E '/debian/?$' | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}
mirror=${mirror%/}
security=$(apt_uris | grep -E '/debian-security/?$' | head -n 1)
security=${security:-$mirror-security}
security=${security%/}

for tool in debootstrap unshare chroot; do
  command -v "$tool" >/dev/null && continue
  echo "check-fresh-machine: installing debootstrap"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  break
done

root=${ZEPH_FRESH_DIR:-$(mktemp -d /var/tmp/zeph-fresh.XXXXXX)}
mkdir -p "$root"
chmod 755 "$root"  # it becomes /, which every user of the tests must pass through
# Refuses to remove a root that still has anything mounted inside.
cleanup() {
  if [ "${ZEPH_FRESH_KEEP:-0}" = 1 ]; then
    echo "check-fresh-machine: root kept in $root"
  elif findmnt -rn -o TARGET | grep -qF "$root/"; then
    echo "check-fresh-machine: something is still mounted under $root; not removing it" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT

elapsed() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
times=()
step() {  # step NAME COMMAND...: runs it and notes how long it took
  local name=$1 start=$SECONDS status=0
  shift
  echo "== check-fresh-machine: $name"
  "$@" || status=$?
  times+=("$name: $(elapsed $((SECONDS - start)))$( ((status == 0)) || echo " (failed, exit $status)")")
  return "$status"
}
report() {
  echo "== check-fresh-machine: $commit on Debian 12 from $mirror"
  printf '   %s\n' "${times[@]}"
}

make_root() {
  # debootstrap mounts /proc and /sys in the root while it installs: in a
  # mount namespace of its own, so that they go with it if it is killed.
  unshare --mount --propagation private -- \
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
    tail -n 30 "$root.debootstrap.log" >&2
    return 1
  }
  rm -f "$root.debootstrap.log"
  # As Debian's own container image: the release, its updates and its security fixes.
  cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # The certificate authorities this host adds for its network (a proxy that
  # re-signs TLS, say): ca-certificates takes them in when install-deps.sh
  # installs it, as on a machine of this network.
  if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
    mkdir -p "$root/usr/local/share/ca-certificates"
    cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
  fi
  # No service starts inside the root when a package is installed.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
}

copy_clone() {
  git clone --quiet --no-local --no-checkout "$repo" "$root/root/zeph"
  git -C "$root/root/zeph" checkout --quiet --detach "$commit"
}

# The README's commands, in the root, with the environment a fresh login has:
# no locale, no terminal, HOME /root; only NODE_EXTRA_CA_CERTS comes along
# when this host sets it, since Node.js (npm, for Zig) does not read the
# system's certificates by itself.
run_inside() {  # run_inside COMMAND
  # shellcheck disable=SC2016 # the inner shell expands its own arguments
  unshare --mount --propagation private -- /bin/sh -eu -c '
    root=$1; shift
    # A mount point of its own, as / is on a machine: unshare --mount-proc,
    # which makes the private PID namespaces of the tests, changes the
    # propagation of /, and that fails on a plain folder.
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --bind /dev "$root/dev"
    mount --bind /dev/pts "$root/dev/pts"
    mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      ${NODE_EXTRA_CA_CERTS:+NODE_EXTRA_CA_CERTS=$NODE_EXTRA_CA_CERTS} /bin/bash -c "cd /root/zeph && $1"
  ' sh "$root" "$1"
}

status=0
step "debootstrap (minbase)" make_root &&
  step "clean clone" copy_clone &&
  step "bash scripts/demo.sh" run_inside "bash scripts/demo.sh" &&
  step "bash scripts/test.sh" run_inside "bash scripts/test.sh" || status=$?
report
exit "$status"
