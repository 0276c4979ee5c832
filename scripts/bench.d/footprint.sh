#!/usr/bin/env bash
# ./zel bench footprint: stripped size of each program and the shared libraries it
# needs (DT_NEEDED), for a host release build and for the player (MIPS): linked
# against the player's uClibc (./zel cross), against the cross glibc shared and
# static, and shmpoke for the ARM system. Then the size of each C library's
# runtime, which the player holds once for all its programs.
# Builds are release (-Os), tests off, installed with DESTDIR as firmware does.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"

# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"

# build NAME: the release build of preset footprint-NAME (build/footprint-NAME),
# installed into its root/
build() { zel_build_install "footprint-$1" "$top/build/footprint-$1/root" >/dev/null; }

# cell NAME STRIP PROGRAM: "bytes needed-libs" of one installed program
cell() {
  local bin=$top/build/footprint-$1/root$zel_bin_dir/$3 tmp
  [[ -f "$bin" ]] || { printf -- '-'; return; }
  tmp=$(mktemp)
  "$2" -o "$tmp" "$bin"
  local size needed
  size=$(stat -c %s "$tmp")
  rm -f "$tmp"
  needed=$(readelf -d "$bin" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd, -)
  printf '%s (%s)' "$size" "${needed:-static}"
}

cols=(host)
build host
# The host build lists every program.
mapfile -t programs < <(cut -d' ' -f1 "$top/build/footprint-host/programs.txt")
if command -v mipsel-linux-gnu-g++ >/dev/null; then
  uclibc=$(bash "$top/scripts/uclibc.sh")
  export ZEL_UCLIBC_SYSROOT=$uclibc
  build mipsel-uclibc
  build mipsel-shared
  build mipsel-static
  cols+=(mipsel-uclibc mipsel-shared mipsel-static)
fi
if command -v arm-linux-gnueabi-g++ >/dev/null; then
  build arm-static
  cols+=(arm-static)
fi

strip_of() {
  case "$1" in
    host) echo strip ;;
    mipsel-*) echo mipsel-linux-gnu-strip ;;
    arm-*) echo arm-linux-gnueabi-strip ;;
  esac
}

echo "Stripped size in bytes (needed shared libraries):"
echo
printf '| program |'; for c in "${cols[@]}"; do printf ' %s |' "$c"; done; echo
printf '|---|'; for c in "${cols[@]}"; do printf -- '---|'; done; echo
for p in "${programs[@]}"; do
  printf '| `%s` |' "$p"
  for c in "${cols[@]}"; do printf ' %s |' "$(cell "$c" "$(strip_of "$c")" "$p")"; done
  echo
done

# stripped_size FILE STRIP: bytes of FILE once stripped
stripped_size() {
  local tmp
  tmp=$(mktemp)
  "$2" -o "$tmp" "$1"
  stat -c %s "$tmp"
  rm -f "$tmp"
}

if [[ -n "${uclibc:-}" ]]; then
  gl=/usr/mipsel-linux-gnu/lib
  echo
  echo "C library runtime on the player (stripped bytes):"
  echo
  echo "| runtime | files | bytes |"
  echo "|---|---|---|"
  echo "| uClibc-ng | ld-uClibc.so.0, libc.so.0 | $(($(stripped_size "$uclibc/lib/ld-uClibc.so.0" mipsel-linux-gnu-strip) + $(stripped_size "$uclibc/lib/libc.so.0" mipsel-linux-gnu-strip))) |"
  echo "| glibc | ld.so.1, libc.so.6 | $(($(stripped_size "$gl/ld.so.1" mipsel-linux-gnu-strip) + $(stripped_size "$gl/libc.so.6" mipsel-linux-gnu-strip))) |"
fi
