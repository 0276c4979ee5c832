#!/usr/bin/env bash
# initramfs.sh KIT ROOTFS HELPERS TABLE OUT: the board's initramfs (an uncompressed
# cpio: under software emulation the kernel unpacks it faster than it inflates a
# gzip) as OUT, rebuilt only when one of its inputs changed.
#
#   /init, /board/session.sh   the board's start-up and one player session (init),
#   /board/chips               and the table of flash chips they read
#   /bin, /sbin, /usr          BusyBox and its applets: the player's shell and tools
#   /lib/modules               the kit's modules and the order to load them in
#   /tpl                       the player's root, copied afresh for every session: the
#                              programs as shipped (ROOTFS, with uClibc in lib/), the
#                              stand-ins, idle processes and journal of the simulated
#                              player (paths and process names from TABLE, the build's
#                              service table), its boot script, the MIPS helpers
#                              (HELPERS: zel-init, zel-idle, zel-mtd, the clock of
#                              --speed and a date on it)
#   /real                      what a player of --services real adds to its root: the
#                              scripts of services/ at the firmware's paths, their
#                              accounts, folders and files; the real pure-pw's wrapper
#   /usr, /sbin links          to Debian's mipsel servers and tools (KIT/debian), which
#                              a session copies; their libraries it mounts over 9p
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
player=$(dirname "$here")
svcdir=$(dirname "$player")/services
kit=$1 rootfs=$2 helpers=$3 table=$4 out=$5
# The firmware's folders, written by the same build as the table.
paths=$(dirname "$table")/zel_paths.sh
# shellcheck source=/dev/null
source "$paths"

inputs() {
  echo "$kit"
  cat "${BASH_SOURCE[0]}" "$here/init" "$here/session.sh" "$here/chips" "$table" "$paths" "$player/boot" \
      "$player"/standins/* "$player"/share-tools/*
  find "$svcdir" -maxdepth 1 -type f | sort | xargs cat
  (cd "$rootfs" && find . -type f -print0 | sort -z | xargs -0 sha1sum)
  (cd "$helpers" && sha1sum zel-init zel-idle zel-mtd date libzel_speed.so)
}
stamp=$(inputs | sha1sum | cut -d' ' -f1)
if [[ -f $out && "$(cat "$out.stamp" 2>/dev/null)" == "$stamp" ]]; then
  exit 0
fi

mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9
[[ -f $out && "$(cat "$out.stamp" 2>/dev/null)" == "$stamp" ]] && exit 0
R=$(mktemp -d "$(dirname "$out")/root.XXXXXX")
trap 'rm -rf "$R"' EXIT

# BusyBox at the paths of its applets (listed by running it under qemu-user).
mkdir -p "$R"/{bin,sbin,usr/bin,usr/sbin,lib/modules,board,proc,sys,dev,io,binds,session}
install -m 755 "$kit/busybox" "$R/bin/busybox"
for a in $(qemu-mipsel-static "$kit/busybox" --list-full); do
  [[ $a == bin/busybox ]] || ln -s /bin/busybox "$R/$a"
done
# The network card's and the NFS server's modules stay in the kit: a board of
# --services real loads them over 9p.
net_modules=" mii pcnet32 sunrpc grace lockd nfs_acl auth_rpcgss nfsd "
for m in "$kit"/modules/*.ko; do
  b=${m##*/}
  [[ $net_modules == *" ${b%.ko} "* ]] || cp "$m" "$R/lib/modules/"
done
cp "$kit/modules/order" "$R/lib/modules/"
install -m 755 "$here/init" "$R/init"
install -m 755 "$here/session.sh" "$R/board/session.sh"
install -m 644 "$here/chips" "$R/board/chips"
# zel_services' exportfs is called by its full path in /usr, which every session
# shares read-only: there a link to the session's own, the stand-in or Debian's.
ln -s /player/bin/exportfs "$R/usr/sbin/exportfs"
# Debian's programs where Debian puts them (exportfs in /usr/libexec, for the link
# above): links to the copies a session of real servers or tools makes in
# /player/debian (the kernel does not start a program from the 9p share); their
# libraries over 9p from /debian: links in /usr/lib's multiarch folder here, in /lib
# the session's own.
for f in "$kit"/debian/usr/sbin/* "$kit"/debian/usr/bin/* "$kit"/debian/sbin/*; do
  d=${f#"$kit/debian"}
  l=$d
  [[ $d != /usr/sbin/exportfs ]] || l=/usr/libexec/exportfs
  mkdir -p "$(dirname "$R$l")"
  ln -s "/player/debian$d" "$R$l"
done
mkdir -p "$R/usr/lib"
ln -s /debian/usr/lib/mipsel-linux-gnu "$R/usr/lib/mipsel-linux-gnu"

# The player's root.
T=$R/tpl
mkdir -p "$T"/{etc/init.d,etc/samba/lib,etc/samba/var,tmp,dev,proc,sys,share,root,run} \
         "$T"/var/{lib/nfs,run,log,cache} "$T$ZEL_BIN_DIR" "$T$ZEL_SERVER_DIR" "$T$ZEL_ETC_DIR" \
         "$T$(dirname "$ZEL_SETUP_CGI")" "$T"/player/{bin,idle,switches,share-tools}
chmod 1777 "$T/tmp"
printf 'root:x:0:0:root:/root:/bin/sh\nftpuser:x:1001:1001::/share:/bin/false\n' >"$T/etc/passwd"
printf 'root:x:0:\nftpuser:x:1001:\n' >"$T/etc/group"
echo zelplayer >"$T/etc/hostname"
install -m 644 "$player/share-tools/smb.conf" "$T/etc/samba/lib/smb.conf"
install -m 755 "$player/share-tools/standin" "$T$ZEL_BIN_DIR/pure-pw"
install -m 755 "$player/share-tools/standin" "$T$ZEL_BIN_DIR/testparm"
install -m 755 "$player/share-tools/standin" "$T/player/bin/exportfs"

for f in zel-init zel-idle zel-mtd date libzel_speed.so; do
  install -m 755 "$helpers/$f" "$T/player/bin/$f"
done
install -m 644 "$table" "$T/player/bin/service_table.sh"
install -m 644 "$paths" "$T/player/bin/zel_paths.sh"
# shellcheck source=/dev/null
source "$table"
: "${processes?}" "${programs?}"
for p in $processes; do
  ln -s /player/bin/zel-idle "$T/player/idle/$p"
done
for s in $programs; do
  mkdir -p "$(dirname "$T$s")"
  install -m 755 "$player/standins/service" "$T$s"
done
: >"$T/player/journal"
chmod 666 "$T/player/journal"
install -m 755 "$player/standins/record" "$T$ZEL_SETUP_CGI"
install -m 755 "$player/standins/record" "$T$ZEL_BIN_DIR/reset_zel"
install -m 755 "$player/boot" "$T/player/boot"
# The programs as a firmware build installs them (its /usr holds only headers and
# static libraries for other programs), over the stand-ins of the real ones.
for d in "$rootfs"/*; do
  [[ $(basename "$d") == usr ]] || cp -a "$d" "$T/"
done

# --services real: each script where the service table names a program of its name,
# every other one in ZEL_ETC_DIR (as player/setup.d/60-services.sh does).
X=$R/real/root
# The paths of zel_paths.h filled in for their @NAME@, as the install does.
fill=()
for v in $(compgen -e | grep '^ZEL_'); do fill+=(-e "s|@$v@|${!v}|g"); done
mkdir -p "$X/etc" "$X$ZEL_ETC_DIR" "$X"/var/lib/nfs/v4recovery "$X"/run/rpcbind "$X"/var/run/zel-services
install -m 755 "$player/share-tools/pure-pw" "$R/real/pure-pw"
for f in "$svcdir"/*; do
  b=${f##*/}
  [[ -f $f && $b != *.txt && $b != *.md ]] || continue
  dest=$ZEL_ETC_DIR/$b
  for p in $programs; do
    [[ ${p##*/} == "$b" ]] && dest=$p
  done
  mkdir -p "$(dirname "$X$dest")"
  sed "${fill[@]}" "$f" >"$X$dest" && chmod 755 "$X$dest"
done
: >"$R/real/passwd"
: >"$R/real/group"
while read -r name uid gid home _; do
  [[ -z $name || $name == \#* ]] && continue
  echo "$name:x:$uid:$gid:$name:$home:/bin/false" >>"$R/real/passwd"
  echo "$name:x:$gid:" >>"$R/real/group"
done <"$svcdir/users.txt"
ln -s /proc/self/mounts "$X/etc/mtab"
# The RPC transports (libtirpc), and the services' and RPC programs' names that
# rpc.nfsd and rpcbind look up (Debian's netbase).
for f in netconfig services rpc; do install -m 644 "/etc/$f" "$X/etc/$f"; done

(cd "$R" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --owner 0:0 --quiet) >"$out.new"
mv "$out.new" "$out"
echo "$stamp" >"$out.stamp"
