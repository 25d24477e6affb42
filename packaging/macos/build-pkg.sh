#!/bin/sh
# Builds the flat installer package (and a disk image for people who install
# by hand) from a macOS build tree:
#   packaging/macos/build-pkg.sh BUILD_DIR OUT_DIR
# It stages "Zeph Installer.app" with `cmake --install`, adds the LaunchAgent,
# and runs pkgbuild and productbuild. With ZEPH_SIGN_APP (a Developer ID
# Application identity), ZEPH_SIGN_INSTALLER (a Developer ID Installer
# identity) and ZEPH_NOTARY_PROFILE (a notarytool keychain profile) all set,
# it signs with the hardened runtime, signs the product, notarizes and staples
# the package, the app inside the disk image and the disk image; with none set
# it builds them unsigned. It refuses a test build, whose installer runs
# stand-ins instead of defaults and killall and shows no alerts.
set -eu
PATH=/usr/bin:/bin:/usr/sbin:/sbin
export PATH

CMAKE=${CMAKE:-cmake}
PKGBUILD=${PKGBUILD:-/usr/bin/pkgbuild}
PRODUCTBUILD=${PRODUCTBUILD:-/usr/bin/productbuild}
CODESIGN=${CODESIGN:-/usr/bin/codesign}
XCRUN=${XCRUN:-/usr/bin/xcrun}
HDIUTIL=${HDIUTIL:-/usr/bin/hdiutil}

if [ "$#" -ne 2 ]; then
  echo "usage: $0 BUILD_DIR OUT_DIR" >&2
  exit 2
fi
build=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
identifier=app.zeph.installer
app_name="Zeph Installer.app"

signing=no
if [ -n "${ZEPH_SIGN_APP:-}" ] && [ -n "${ZEPH_SIGN_INSTALLER:-}" ] && [ -n "${ZEPH_NOTARY_PROFILE:-}" ]; then
  signing=yes
elif [ -n "${ZEPH_SIGN_APP:-}${ZEPH_SIGN_INSTALLER:-}${ZEPH_NOTARY_PROFILE:-}" ]; then
  echo "$0: set all of ZEPH_SIGN_APP, ZEPH_SIGN_INSTALLER and ZEPH_NOTARY_PROFILE, or none" >&2
  exit 2
fi

cache_value() {  # cache_value NAME: its value in the build's cache, empty when absent
  sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" 2>/dev/null | head -n 1
}

version=$(cache_value CMAKE_PROJECT_VERSION)
if [ -z "$version" ]; then
  echo "$0: $build is not a configured build tree" >&2
  exit 2
fi

# CMake's false values; anything else turns an option on.
is_on() {
  case "$(printf '%s' "$1" | tr '[:lower:]' '[:upper:]')" in
    "" | OFF | FALSE | NO | N | 0 | IGNORE | NOTFOUND | *-NOTFOUND) return 1 ;;
    *) return 0 ;;
  esac
}

test_settings=""
is_on "$(cache_value ZEPH_TESTS)" && test_settings="$test_settings ZEPH_TESTS=$(cache_value ZEPH_TESTS)"
for setting in ZEPH_DEFAULTS_PROGRAM=/usr/bin/defaults ZEPH_KILLALL_PROGRAM=/usr/bin/killall; do
  name=${setting%%=*}
  value=$(cache_value "$name")
  [ -z "$value" ] || [ "$value" = "${setting#*=}" ] || test_settings="$test_settings $name=$value"
done
is_on "$(cache_value ZEPH_DIALOGS_UNAVAILABLE)" && test_settings="$test_settings ZEPH_DIALOGS_UNAVAILABLE=ON"
if [ -n "$test_settings" ]; then
  echo "$0: $build is a test build (${test_settings# }): its installer would run stand-ins" \
    "instead of defaults and killall and show no alerts. Configure it with -DZEPH_TESTS=OFF, which puts" \
    "the real programs back, build it again and package that." >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zeph-pkg.XXXXXX")
trap 'rm -rf "$work"' EXIT
root="$work/root"
mkdir -p "$root/Applications" "$root/Library/LaunchAgents" "$out"

"$CMAKE" --install "$build" --prefix "$root/Applications"
app="$root/Applications/$app_name"
[ -x "$app/Contents/MacOS/zeph-installer" ] || { echo "$0: no $app_name in the staged tree" >&2; exit 1; }
# The LaunchAgent runs it from there.
[ -f "$app/Contents/Resources/login-apply" ] || { echo "$0: no login-apply in the staged $app_name" >&2; exit 1; }
cp "$here/app.zeph.apply.plist" "$root/Library/LaunchAgents/app.zeph.apply.plist"
chmod 644 "$root/Library/LaunchAgents/app.zeph.apply.plist"

notarize() {  # notarize FILE: submit, wait, staple
  "$XCRUN" notarytool submit "$1" --keychain-profile "$ZEPH_NOTARY_PROFILE" --wait
  "$XCRUN" stapler staple "$1"
}

if [ "$signing" = yes ]; then
  # Inside out: the carried saver and the second command before the app that seals them.
  for code in "$app/Contents/Resources/zeph.saver" "$app/Contents/MacOS/zeph-store" "$app"; do
    "$CODESIGN" --force --options runtime --timestamp --sign "$ZEPH_SIGN_APP" "$code"
  done
  "$CODESIGN" --verify --deep --strict "$app"
fi

mkdir -p "$work/scripts"
cp "$here/postinstall" "$work/scripts/postinstall"
chmod 755 "$work/scripts/postinstall"
# Not relocatable, so the app goes to /Applications where the scripts look for it.
"$PKGBUILD" --root "$root" --component-plist "$here/component.plist" --scripts "$work/scripts" \
  --identifier "$identifier" --version "$version" --install-location / "$work/component.pkg"

pkg="$out/zeph-installer-$version.pkg"
if [ "$signing" = yes ]; then
  "$PRODUCTBUILD" --package "$work/component.pkg" --sign "$ZEPH_SIGN_INSTALLER" "$pkg"
  notarize "$pkg"
  # The package's ticket covers the app it carries: stapled, the app copied
  # out of the disk image opens offline as well.
  "$XCRUN" stapler staple "$app"
else
  "$PRODUCTBUILD" --package "$work/component.pkg" "$pkg"
fi

dmg="$out/zeph-installer-$version.dmg"
mkdir -p "$work/dmg"
cp -R "$app" "$work/dmg/"
"$HDIUTIL" create -volname "Zeph Installer" -srcfolder "$work/dmg" -format UDZO -ov "$dmg"
if [ "$signing" = yes ]; then
  "$CODESIGN" --force --timestamp --sign "$ZEPH_SIGN_APP" "$dmg"
  notarize "$dmg"
fi
if [ "$signing" = yes ]; then
  echo "built $pkg and $dmg, signed and notarized"
else
  echo "built $pkg and $dmg, unsigned"
fi
