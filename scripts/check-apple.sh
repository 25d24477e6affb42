#!/usr/bin/env bash
# Syntax-checks every Apple-only source (src/**/*_apple.cc, *_apple.mm) with
# clang against the declarations in tests/apple-sdk, since those files are
# never compiled on Linux. Objective-C++ is checked as ARC code, as it is built.
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=${ZEPH_APPLE_CHECK_CXX:-clang++-14}
read -ra json_flags < <(pkg-config --cflags nlohmann_json 2>/dev/null) || true
common=(-fsyntax-only -std=c++20 -Wall -Wextra -Wpedantic -Werror -isystem tests/apple-sdk -Isrc
        "${json_flags[@]}")
checked=0
while IFS= read -r -d '' file; do
  case "$file" in
    *.mm) "$compiler" "${common[@]}" -x objective-c++ -fobjc-arc -fobjc-runtime=macosx-10.15 "$file" ;;
    *) "$compiler" "${common[@]}" "$file" ;;
  esac
  checked=$((checked + 1))
done < <(find src -name '*_apple.cc' -print0 -o -name '*_apple.mm' -print0 | sort -z)
if [ "$checked" -eq 0 ]; then
  echo "check-apple: no Apple-only sources found" >&2
  exit 1
fi
echo "check-apple: $checked Apple-only sources pass"
