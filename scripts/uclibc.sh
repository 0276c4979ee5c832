#!/usr/bin/env bash
# Builds the player's C library once: uClibc-ng from Debian's uclibc-source, for
# little-endian MIPS (o32) with Debian's mipsel-linux-gnu cross compiler and the
# cross kernel headers, options from scripts/uclibc/config.fragment. Prints the
# sysroot: lib/ (ld-uClibc.so.0 and the shared libraries, the player's /lib) and
# usr/include, usr/lib (headers, crt files, link-time libraries).
#
# The result is kept outside the build tree, in $ZEL_CACHE (default
# ~/.cache/zel), under a key made of the source package's version, the
# compiler's and kernel headers' versions, the options and this script: a fresh
# clone (CI) reuses it, and a change of any input builds a new one.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fragment=$here/uclibc/config.fragment
tarball=$(ls /usr/src/uClibc-ng-*.tar.* 2>/dev/null | head -n1 || true)
if [[ -z "$tarball" ]]; then
  echo "uclibc: no /usr/src/uClibc-ng-*.tar.* (Debian package uclibc-source)" >&2
  exit 1
fi
command -v mipsel-linux-gnu-gcc >/dev/null ||
  { echo "uclibc: mipsel-linux-gnu-gcc not found (Debian package gcc-mipsel-linux-gnu)" >&2; exit 1; }
kheaders=/usr/mipsel-linux-gnu/include
[[ -d $kheaders/asm && -d $kheaders/linux ]] ||
  { echo "uclibc: no MIPS kernel headers in $kheaders (linux-libc-dev-mipsel-cross)" >&2; exit 1; }

version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo none; }
key=$({
  version uclibc-source; version gcc-12-mipsel-linux-gnu; version linux-libc-dev-mipsel-cross
  cat "$fragment" "${BASH_SOURCE[0]}"
} | sha1sum | cut -c1-12)
base=$(basename "$tarball")
base=${base%%.tar.*}
cache=${ZEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zel}
out=$cache/$base-mipsel-$key
sysroot=$out/sysroot
if [[ -f $out/done ]]; then
  echo "$sysroot"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/.uclibc.lock"
flock 9
# Another build may have finished while this one waited for the lock.
if [[ -f $out/done ]]; then
  echo "$sysroot"
  exit 0
fi

rm -rf "$out"
work=$out/src
mkdir -p "$work"
echo "uclibc: building $base for mipsel (once, into $out)" >&2
start=$SECONDS
tar -xf "$tarball" -C "$work" --strip-components=1

# Only the kernel's own header folders: the cross glibc's headers live beside them.
mkdir -p "$out/kernel-headers"
for d in linux asm asm-generic mtd; do
  cp -rL "$kheaders/$d" "$out/kernel-headers/"
done

# A non-interactive configuration: the architecture's defaults, then the options
# of the fragment, resolved by olddefconfig.
{
  cat "$fragment"
  echo "KERNEL_HEADERS=\"$out/kernel-headers\""
} >"$work/.config"
make -C "$work" -s ARCH=mips olddefconfig >/dev/null
for opt in $(grep -o '^[A-Z0-9_]*=y' "$fragment" | cut -d= -f1); do
  grep -qx "$opt=y" "$work/.config" ||
    { echo "uclibc: option $opt did not stay set" >&2; exit 1; }
done

make -C "$work" -s -j"$(nproc 2>/dev/null || echo 2)" ARCH=mips all >"$out/build.log" 2>&1 ||
  { tail -n 30 "$out/build.log" >&2; echo "uclibc: build FAILED (log: $out/build.log)" >&2; exit 1; }
make -C "$work" -s ARCH=mips PREFIX="$sysroot" install >/dev/null
cp -r "$out/kernel-headers/." "$sysroot/usr/include/"
cp "$work/.config" "$out/config"
rm -rf "$work"
touch "$out/done"
echo "uclibc: built in $((SECONDS - start)) s" >&2
echo "$sysroot"
