#!/usr/bin/env bash
# The board's kit: Debian's little-endian MIPS Malta kernel with the modules the
# board loads, and BusyBox (busybox-static) for mipsel. Fetched once with
# `apt-get download` (the mipsel architecture is added to apt when it is missing),
# unpacked into $ZEL_CACHE (default ~/.cache/zel) under a name that carries both
# packages' versions, and printed: DIR/vmlinuz, DIR/modules/*.ko (with the order
# to load them in), DIR/busybox, DIR/version; DIR/debian, a mipsel root with the
# real servers and share tools of --services real and their shared libraries (glibc
# included), reached over 9p: too large for the initramfs. A kit in the cache that
# this script made is used as it is: a second run asks apt nothing, downloads and
# unpacks nothing (remove the cache's board-kit-* to take a newer kernel or servers).
set -euo pipefail

cache=${ZEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zel}
# The modules the board loads, the flash chips' from their table (each once: a chip
# of modules already here changes no kit); their dependencies come along (each .ko's
# depends=).
chip_modules=$(awk '/^#/ || !NF { next }
  { $1 = $2 = $3 = $4 = $5 = ""; n = split($0, loads, ";")
    for (i = 1; i <= n; i++) { split(loads[i], words, " "); if (!seen[words[1]]++) printf "%s ", words[1] } }' \
  "$(dirname "${BASH_SOURCE[0]}")/chips")
wanted="virtio_pci virtio_blk virtio_console 9pnet_virtio 9p ${chip_modules}brd dummy pcnet32 nfsd"
# Debian's mipsel programs of --services real and the packages of their libraries
# (found by each ELF file's NEEDED; only the closure of the programs is kept).
programs="usr/sbin/exportfs usr/sbin/rpc.mountd usr/sbin/rpc.nfsd sbin/rpcbind usr/sbin/pure-ftpd usr/bin/pure-pw"
debs="libc6 nfs-kernel-server rpcbind pure-ftpd libwrap0 libnsl2 libblkid1 libuuid1 libtirpc3
  libgssapi-krb5-2 libkrb5-3 libk5crypto3 libcom-err2 libkrb5support0 libkeyutils1 libsystemd0
  libcap2 libgcrypt20 libgpg-error0 liblz4-1 liblzma5 libzstd1 libssl3 libatomic1 libsodium23
  libcrypt1 libpam0g libaudit1 libcap-ng0"

sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo

# NAME VERSION of the kernel package the meta package points at, and of BusyBox.
resolve() {
  local k
  k=$(apt-cache depends linux-image-4kc-malta:mipsel 2>/dev/null |
      sed -n 's/^ *Depends: \(linux-image-[0-9].*-4kc-malta\):mipsel$/\1/p' | head -n1)
  [[ -n $k ]] || return 1
  echo "$k $(apt-cache policy "$k:mipsel" | sed -n 's/^ *Candidate: //p')"
  echo "busybox-static $(apt-cache policy busybox-static:mipsel | sed -n 's/^ *Candidate: //p')"
}

script_key=$({ cat "${BASH_SOURCE[0]}"; echo "$wanted $programs $debs"; } | sha1sum | cut -c1-8)
kit=$(ls -d "$cache"/board-kit-"$script_key"-*/done 2>/dev/null | sort -V | tail -n1 || true)
if [[ -n $kit ]]; then
  dirname "$kit"
  exit 0
fi

if ! pkgs=$(resolve); then
  echo "board: adding the mipsel architecture to apt" >&2
  dpkg --print-foreign-architectures | grep -qx mipsel || $sudo dpkg --add-architecture mipsel
  $sudo apt-get update -q >/dev/null
  pkgs=$(resolve) || { echo "board: apt knows no linux-image-4kc-malta for mipsel" >&2; exit 1; }
fi
read -r kpkg kver <<<"$(sed -n 1p <<<"$pkgs")"
read -r _ bver <<<"$(sed -n 2p <<<"$pkgs")"
out=$cache/board-kit-$script_key-${kpkg#linux-image-}-${kver}-busybox-${bver#*:}
if [[ -f $out/done ]]; then
  echo "$out"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/.board-kit.lock"
flock 9
[[ -f $out/done ]] && { echo "$out"; exit 0; }
rm -rf "$out"
mkdir -p "$out/deb" "$out/x" "$out/modules" "$out/udeb" "$out/ux" "$out/debian"
echo "board: fetching $kpkg $kver, busybox-static $bver and the servers (mipsel) into $out" >&2
# apt's download user cannot write into root's cache.
chmod 777 "$out/deb" "$out/udeb"
(cd "$out/deb" && apt-get download -q "$kpkg:mipsel=$kver" "busybox-static:mipsel=$bver" >/dev/null 2>"$out/download.log") ||
  { cat "$out/download.log" >&2; echo "board: download FAILED" >&2; exit 1; }
# shellcheck disable=SC2046 # one word per package
(cd "$out/udeb" && apt-get download -q $(printf '%s:mipsel ' $debs) >/dev/null 2>>"$out/download.log") ||
  { cat "$out/download.log" >&2; echo "board: download FAILED" >&2; exit 1; }
for d in "$out"/deb/*.deb; do dpkg-deb -x "$d" "$out/x"; done
for d in "$out"/udeb/*.deb; do dpkg-deb -x "$d" "$out/ux"; done

# The programs and, by NEEDED, the libraries they load (with the links of their
# sonames), and glibc's loader at the path the programs name.
declare -A have=()
keep() {
  local f=$1 n lib d t
  [[ -n ${have[$f]:-} ]] && return
  have[$f]=1
  mkdir -p "$out/debian/$(dirname "$f")"
  cp -a "$out/ux/$f" "$out/debian/$f"
  if [[ -L $out/ux/$f ]]; then
    t=$(readlink "$out/ux/$f")
    [[ $t == /* ]] || t=$(realpath -m --relative-to="$out/ux" "$out/ux/$(dirname "$f")/$t")
    keep "${t#/}"
  fi
  for n in $(readelf -d "$out/ux/$f" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    lib=""
    for d in lib/mipsel-linux-gnu usr/lib/mipsel-linux-gnu; do
      [[ -e $out/ux/$d/$n ]] && { lib=$d/$n; break; }
    done
    [[ -n $lib ]] || { echo "board: $f needs $n, in none of the packages" >&2; exit 1; }
    keep "$lib"
  done
}
for p in $programs lib/ld.so.1; do keep "$p"; done
rm -rf "$out/udeb" "$out/ux"
cp "$out"/x/boot/vmlinuz-* "$out/vmlinuz"
cp "$out"/x/bin/busybox "$out/busybox"
kdir=$(ls -d "$out"/x/lib/modules/*)
basename "$kdir" >"$out/version"
cp "$out"/x/boot/config-* "$out/config"

# Each wanted module after the modules it depends on: the order to load them in.
declare -A seen=()
order=()
add_module() {
  local m=$1 f deps d
  [[ -n ${seen[$m]:-} ]] && return
  seen[$m]=1
  f=$(find "$kdir" -name "$m.ko" | head -n1)
  [[ -n $f ]] || { echo "board: module $m not in $kpkg" >&2; exit 1; }
  deps=$(strings -a "$f" | sed -n 's/^depends=//p' | tr ',' ' ')
  for d in $deps; do add_module "$d"; done
  cp "$f" "$out/modules/"
  order+=("$m")
}
for m in $wanted; do add_module "$m"; done
printf '%s\n' "${order[@]}" >"$out/modules/order"
rm -rf "$out/deb" "$out/x"
touch "$out/done"
echo "$out"
