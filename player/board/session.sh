#!/bin/sh
# session.sh DIR: one player on the board, run by init as PID 1 of new mount,
# PID, IPC, UTS and network namespaces: a fresh root copied from /tpl, the kernel's
# MTD devices, /proc and /sys, the host's folders, disks and interfaces; then the
# player's own boot script and the command, under the simulated player's init
# (zel-init). When the command ends, the namespaces end and with them every process,
# queue, mount and interface of the session. A player of --services real keeps the
# board's PID namespace (init ends what it leaves) and has the network card.
#
# DIR is what player/board/board wrote: a file per setting, its value a line; disks
# (a folder name a line), binds (a line "K PATH" for each host folder of
# /io/binds/K); env (NAME=VALUE) and argv (the command), a word a line, in which a
# backslash is written \\ and a newline \n. No shell parses any of it.
D=$1
read -r chip <"$D/chip"
read -r daemon <"$D/daemon"
IFS= read -r speed <"$D/speed"
IFS= read -r nets <"$D/nets"
read -r services <"$D/services"
read -r tools <"$D/tools"
IFS= read -r term <"$D/term"
S=/session
mount -t tmpfs -o mode=755 player $S
cp -a /tpl/. $S/
. $S/player/bin/zel_paths.sh
for d in bin sbin usr; do
  mkdir -p $S/$d
  mount --bind /$d $S/$d
  mount -o remount,ro,bind $S/$d
done

# Debian's mipsel programs of --services real and the real share tools, with glibc,
# from the kit over 9p (/debian): the programs copied (to /player/debian, where
# links in /usr and /sbin point), the kernel starts none from the share.
if [ "$services" = real ] || [ "$tools" = real ]; then
  mkdir -p $S/debian
  mount --bind /io/kit/debian $S/debian
  mount -o remount,ro,bind $S/debian
  for d in usr/sbin usr/bin sbin; do
    mkdir -p $S/player/debian/$d
    cp /io/kit/debian/$d/* $S/player/debian/$d/
  done
  ln -s /debian/lib/ld.so.1 $S/lib/ld.so.1
  ln -s /debian/lib/mipsel-linux-gnu $S/lib/mipsel-linux-gnu
fi
if [ "$tools" = real ]; then
  # zel_services runs /usr/sbin/exportfs, a link to /player/bin/exportfs.
  ln -sf /usr/libexec/exportfs $S/player/bin/exportfs
  cp /real/pure-pw "$S$ZEL_BIN_DIR/pure-pw"
  : >$S/var/lib/nfs/etab
  : >$S/var/lib/nfs/rmtab
fi
# The scripts of services/ at the firmware's paths, their accounts and folders.
if [ "$services" = real ]; then
  cp -a /real/root/. $S/
  cat /real/passwd >>$S/etc/passwd
  cat /real/group >>$S/etc/group
fi

# A /dev of the session's own: what is removed there stays removed for it alone.
mount -t tmpfs -o mode=755 dev $S/dev
mknod -m 666 $S/dev/null c 1 3
mknod -m 666 $S/dev/zero c 1 5
mknod -m 666 $S/dev/full c 1 7
mknod -m 666 $S/dev/random c 1 8
mknod -m 666 $S/dev/urandom c 1 9
mknod -m 666 $S/dev/tty c 5 0
mknod -m 600 $S/dev/console c 5 1
mknod -m 600 $S/dev/ttyS0 c 4 64
for m in /sys/class/mtd/mtd*; do
  case ${m##*/} in *ro) continue ;; esac
  IFS=: read -r major minor <"$m/dev"
  mknod -m 600 "$S/dev/${m##*/}" c "$major" "$minor"
done
# The partition's bytes where the simulated player keeps its image file.
mknod -m 600 $S/player/flash.img c "$(cut -d: -f1 /sys/class/mtd/mtd1/dev)" "$(cut -d: -f2 /sys/class/mtd/mtd1/dev)"
ln -s /proc/self/fd $S/dev/fd
ln -s /proc/self/fd/0 $S/dev/stdin
ln -s /proc/self/fd/1 $S/dev/stdout
ln -s /proc/self/fd/2 $S/dev/stderr
mkdir -p $S/dev/shm && mount -t tmpfs shm $S/dev/shm
mount -t proc proc $S/proc
mount -t sysfs sys $S/sys

while IFS= read -r line; do
  path=${line#* }
  mkdir -p "$S$path"
  mount --bind "/io/binds/${line%% *}" "$S$path"
done <"$D/binds"
while IFS= read -r d; do
  mkdir -p "$S/$d"
done <"$D/disks"
hostname zelplayer
ip link set lo up
for n in $nets; do
  ifname=${n%%=*}
  ip link add "$ifname" type dummy
  ip addr add "${n#*=}" dev "$ifname"
  ip link set "$ifname" up
done

# The command line: chroot, env -i and the environment, zel-init, the boot script,
# the command.
cd $S || exit 1
set -- chroot $S /usr/bin/env -i "PATH=$ZEL_BIN_DIR:/player/bin:/usr/sbin:/usr/bin:/sbin:/bin" \
  HOME=/root "TERM=$term" LANG=C
# word LINE: the word a line of env or argv holds, in $word.
word() {
  case $1 in
    *\\*) word=$(printf '%b.' "$1") && word=${word%.} ;;
    *) word=$1 ;;
  esac
}
while IFS= read -r line; do
  word "$line"
  set -- "$@" "$word"
done <"$D/env"
# ZP_DATE: the date of the player's clock, for the stand-ins' journal and the tests
# (BusyBox's shell runs its own date applet whatever the PATH).
set -- "$@" "ZP_BOARD=$chip" "ZP_DAEMON=$daemon" ZP_DATE=/player/bin/date "ZP_SERVICES=$services"
if [ -n "$speed" ]; then
  # The player's MIPS clock (player/mipsel/speed.c) in every dynamically linked
  # program; it hands itself on to the programs they start. One clock for every
  # process, counted from now (date is /player/bin's).
  set -- "$@" "ZP_SPEED=$speed" "FAKETIME=+0 x$speed" LD_PRELOAD=/player/bin/libzel_speed.so \
    ZP_HOST_PRELOAD=/player/bin/libzel_speed.so \
    "ZP_SPEED_BASE=$(busybox date +%s) $(cut -d' ' -f1 /proc/uptime)"
fi
set -- "$@" /player/bin/zel-init /bin/sh /player/boot
while IFS= read -r line; do
  word "$line"
  set -- "$@" "$word"
done <"$D/argv"
exec "$@"
