#!/usr/bin/env bash
# Fails on any include that points up a layer. All of src/ shares one include
# root, so the compiler alone would accept such an include; this keeps the
# layers as they are meant to be, each reading only the ones below it.
# tests/<layer> may include its own layer and those below it, plus tests/support.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t layers < <(grep -E '^[a-z_]+$' src/layers.txt)  # lowest first
if ((${#layers[@]} == 0)); then
  echo "check-layers: no layers in src/layers.txt" >&2
  exit 1
fi
rank() {  # rank LAYER: prints its height, or nothing when LAYER is not a layer
  local i
  for i in "${!layers[@]}"; do
    if [ "${layers[$i]}" = "$1" ]; then echo "$i"; return; fi
  done
}
status=0
while IFS= read -r -d '' file; do
  top=${file#*/}; top=${top%%/*}
  own=$(rank "$top")
  [ -n "$own" ] || continue
  while IFS=: read -r line target; do
    folder=${target%%/*}
    [ "$folder" = "support" ] && [[ $file == tests/* ]] && continue
    theirs=$(rank "$folder")
    if [ -z "$theirs" ]; then
      echo "$file:$line: includes \"$target\", which is in no layer" >&2; status=1
    elif [ "$theirs" -gt "$own" ]; then
      echo "$file:$line: $top includes \"$target\" from $folder, a higher layer" >&2; status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+/' "$file" |
           sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/' || true)
done < <(find src tests -type f \( -name '*.h' -o -name '*.cc' -o -name '*.mm' \) -print0 | sort -z)
if [ "$status" -eq 0 ]; then echo "check-layers: every include points down"; fi
exit "$status"
