#!/bin/sh
# Removes zeph from this Mac as an administrator would, run as root: undoes
# the installer's changes for the user at the console (--uninstall), stops
# and removes the LaunchAgent, removes the app and the command links, and
# forgets the package receipt. Other users' stores are left as they are: run
# "zeph-installer --uninstall --user NAME" for each of them first.
PATH=/usr/bin:/bin:/usr/sbin:/sbin
export PATH

ZEPH_APP=${ZEPH_APP:-"/Applications/Zeph Installer.app"}
ZEPH_BIN_DIR=${ZEPH_BIN_DIR:-/usr/local/bin}
ZEPH_AGENT=${ZEPH_AGENT:-/Library/LaunchAgents/app.zeph.apply.plist}
ZEPH_STAT=${ZEPH_STAT:-/usr/bin/stat}
ZEPH_CONSOLE=${ZEPH_CONSOLE:-/dev/console}
ZEPH_LAUNCHCTL=${ZEPH_LAUNCHCTL:-/bin/launchctl}
ZEPH_PKGUTIL=${ZEPH_PKGUTIL:-/usr/sbin/pkgutil}

if [ "$(id -u)" -ne 0 ]; then
  echo "uninstall-package.sh: run as root (sudo)" >&2
  exit 1
fi

status=0
user=$("$ZEPH_STAT" -f %Su "$ZEPH_CONSOLE" 2>/dev/null)
case "$user" in
  "" | root | loginwindow | _mbsetupuser)
    echo "nobody is logged in at the console; no user's screens were changed back"
    ;;
  *)
    "$ZEPH_APP/Contents/MacOS/zeph-installer" --uninstall --user "$user" || status=1
    uid=$(id -u "$user" 2>/dev/null) && "$ZEPH_LAUNCHCTL" bootout "gui/$uid/app.zeph.apply" 2>/dev/null
    ;;
esac

rm -f "$ZEPH_AGENT" "$ZEPH_BIN_DIR/zeph-installer" "$ZEPH_BIN_DIR/zeph-store"
rm -rf "$ZEPH_APP"
"$ZEPH_PKGUTIL" --forget app.zeph.installer >/dev/null 2>&1 || true
exit "$status"
