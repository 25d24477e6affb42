#!/usr/bin/env bash
# Fails when a C++ or Objective-C++ file of src, tests, bench or fuzz is not
# as clang-format-14 leaves it under .clang-format, and names those files.
# tests/apple-sdk stays as transcribed from Apple's documentation.
# One formatter version for everyone: another version formats differently.
#
#   scripts/check-format.sh          # check (scripts/test.sh runs this)
#   scripts/check-format.sh --fix    # rewrite the same files in place
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=${ZEPH_CLANG_FORMAT:-clang-format-14}
if ! command -v "$formatter" >/dev/null; then
  echo "check-format: $formatter not found (bash scripts/install-deps.sh installs it)" >&2
  exit 1
fi
mapfile -t -d '' files < <(
  find src tests bench fuzz -type f \( -name '*.h' -o -name '*.cc' -o -name '*.mm' \) ! -path 'tests/apple-sdk/*' -print0 | sort -z)
if ((${#files[@]} == 0)); then
  echo "check-format: no sources found" >&2
  exit 1
fi

if [ "${1:-}" = --fix ]; then
  "$formatter" -i --style=file "${files[@]}"
  echo "check-format: ${#files[@]} files formatted"
  exit 0
fi

report=$(mktemp)
trap 'rm -f "$report"' EXIT
if "$formatter" --dry-run --Werror --style=file "${files[@]}" 2>"$report"; then
  echo "check-format: ${#files[@]} files as $formatter leaves them"
  exit 0
fi
mapfile -t differing < <(sed -nE 's/^([^:]+):[0-9]+:[0-9]+: error: .*/\1/p' "$report" | sort -u)
echo "check-format: ${#differing[@]} of ${#files[@]} files differ from what $formatter makes of them:" >&2
printf '  %s\n' "${differing[@]}" >&2
echo "the first differences:" >&2
head -n 30 "$report" >&2
echo "bash scripts/check-format.sh --fix rewrites them" >&2
exit 1
