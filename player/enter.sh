#!/usr/bin/env bash
# Second half of zelplayer, run inside the new namespaces: builds the root and
# hands over to the player's init.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
R=$1
shift
# The firmware's folders, as the build's zel_paths.h names them.
# shellcheck source=/dev/null
source "$ZP_BUILD/player/bin/zel_paths.sh"

mount -t tmpfs -o mode=755 zelplayer "$R"
mkdir -p "$R"/{usr,etc,tmp,dev,proc,sys,share,root,var/lib,var/run,var/log,var/cache,run,player/bin,player/idle,player/switches} \
  "$R$ZEL_BIN_DIR" "$R$ZEL_SERVER_DIR" "$R$ZEL_ETC_DIR" "$R$(dirname "$ZEL_SETUP_CGI")"
chmod 1777 "$R/tmp"

# The host's programs and libraries, read-only.
mount --bind /usr "$R/usr"
mount -o remount,bind,ro "$R/usr"
for d in bin sbin lib lib32 lib64 libx32; do
  if [[ -L /$d ]]; then
    ln -s "$(readlink "/$d")" "$R/$d"
  elif [[ -d /$d ]]; then
    mkdir -p "$R/$d"
    mount --bind "/$d" "$R/$d"
    mount -o remount,bind,ro "$R/$d"
  fi
done
mkdir -p "$R/etc/alternatives"
mount --bind /etc/alternatives "$R/etc/alternatives"
mount -o remount,bind,ro "$R/etc/alternatives"

# A writable /etc of its own with what programs need to start.
for f in passwd group shadow hosts nsswitch.conf ld.so.cache ld.so.conf ld.so.conf.d \
         host.conf services protocols shells localtime login.defs; do
  [[ -e /etc/$f ]] && cp -a "/etc/$f" "$R/etc/"
done
echo zelplayer > "$R/etc/hostname"
hostname zelplayer

for n in null zero urandom random tty; do
  touch "$R/dev/$n"
  mount --bind "/dev/$n" "$R/dev/$n"
done
ln -s /proc/self/fd "$R/dev/fd"
ln -s /proc/self/fd/0 "$R/dev/stdin"
ln -s /proc/self/fd/1 "$R/dev/stdout"
ln -s /proc/self/fd/2 "$R/dev/stderr"
mkdir -p "$R/dev/shm" && mount -t tmpfs shm "$R/dev/shm"
mount -t proc proc "$R/proc"
mount -t sysfs sysfs "$R/sys" 2>/dev/null || true

# The player's helpers and the stand-ins of the firmware's scripts and programs, at
# the paths and with the process names of the build's service table.
cp -a "$ZP_BUILD"/player/bin/. "$R/player/bin/"
table=$ZP_BUILD/player/bin/service_table.sh
if [[ -e "$table" ]]; then
  # shellcheck source=/dev/null
  source "$table"
  : "${processes?}" "${programs?}"
  for p in $processes; do
    ln -s /player/bin/zel-idle "$R/player/idle/$p"
  done
  for s in $programs; do
    install -m 755 "$here/standins/service" "$R$s"
  done
else
  echo "zelplayer: $table missing (zeldaemon not built): no service stand-ins" >&2
fi
: > "$R/player/journal"
chmod 666 "$R/player/journal"
install -m 755 "$here/standins/record" "$R$ZEL_SETUP_CGI"
install -m 755 "$here/standins/record" "$R$ZEL_BIN_DIR/reset_zel"
install -m 755 "$here/boot" "$R/player/boot"

# --target mipsel: uClibc's /lib beside the host's, and the handler of MIPS programs.
# shellcheck source=player/mipsel/root.sh
[[ "${ZP_TARGET:-host}" == host ]] || source "$here/mipsel/root.sh"

# The build's install tree, as a firmware build lays it out (its /usr holds only
# headers and static libraries for other programs).
if [[ -d "$ZP_ROOTFS" ]]; then
  for d in "$ZP_ROOTFS"/*; do
    [[ -e "$d" ]] || continue
    [[ $(basename "$d") == usr ]] && continue
    cp -a "$d" "$R/"
  done
fi

# Flash: a regular file stands for each MTD partition; the preloaded emulation
# answers the MTD requests for them.
image=$R/player/flash.img
if [[ -n "$ZP_FLASH" ]]; then
  [[ -e "$ZP_FLASH" ]] || bash "$here/new-flash-image" "$ZP_FLASH"
  image=$ZP_FLASH
else
  bash "$here/new-flash-image" "$image"
fi
touch "$R/dev/mtd1"
mount --bind "$image" "$R/dev/mtd1"
head -c 131072 /dev/zero | tr '\0' '\377' > "$R/dev/mtd0"
if [[ -e "$R/player/bin/libzel_mtdemu.so" ]]; then
  echo /player/bin/libzel_mtdemu.so > "$R/etc/ld.so.preload"
fi

while read -r d; do
  [[ -n "$d" ]] && mkdir -p "$R/$d"
done <<< "$ZP_DISKS"

ip link set lo up
while read -r n; do
  [[ -n "$n" ]] || continue
  ifname=${n%%=*}
  ip link add "$ifname" type veth peer name "${ifname}p"
  ip addr add "${n#*=}" dev "$ifname"
  ip link set "${ifname}p" up
  ip link set "$ifname" up
done <<< "$ZP_NETS"

while read -r b; do
  [[ -n "$b" ]] || continue
  if [[ -d "$b" ]]; then mkdir -p "$R$b"; else mkdir -p "$(dirname "$R$b")"; touch "$R$b"; fi
  mount --bind "$b" "$R$b"
done <<< "$ZP_BINDS"

envlist=(
  "PATH=$ZEL_BIN_DIR:/player/bin:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  "HOME=/root" "TERM=${TERM:-dumb}" "LANG=C.UTF-8" "ZP_DAEMON=$ZP_DAEMON"
  "ZP_SERVICES=${ZP_SERVICES:-standin}"
  # Sanitized builds run beside preloaded libraries in here.
  "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
)
[[ -n "${ZP_SPEED:-}" ]] && envlist+=("ZP_SPEED=$ZP_SPEED")
while read -r e; do
  [[ -n "$e" ]] || continue
  envlist+=("$e")
  export "${e?}"
done <<< "$ZP_ENVS"

# Hooks that add tools to the root ($R).
for hook in "$here"/setup.d/*.sh; do
  [[ -e "$hook" ]] || continue
  # shellcheck source=/dev/null
  source "$hook"
done

if [[ -n "${ZP_SPEED:-}" ]]; then
  envlist+=("FAKETIME=+0 x$ZP_SPEED" "FAKETIME_DONT_RESET=1"
            "LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
fi

# An old kernel's profile is installed before init: every process of the player
# inherits it.
init=(/player/bin/zel-init)
[[ -z "${ZP_KERNEL:-}" ]] || init=(/player/bin/zel-kernel "$ZP_KERNEL" /player/bin/zel-init)
exec chroot "$R" /usr/bin/env -i "${envlist[@]}" "${init[@]}" /bin/sh /player/boot "$@"
