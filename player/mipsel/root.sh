# shellcheck shell=bash
# Sourced by enter.sh for --target mipsel, inside the player's namespaces, before
# the install tree ($ZP_ROOTFS, with uClibc's runtime in lib/) is copied into $R.

zp_refuse() {
  echo "zelplayer: --target mipsel refused: $*" >&2
  exit 2
}

# /lib holds the host's libraries (host programs keep their loader and libc) and,
# copied in next, uClibc's ld-uClibc.so.0 and libc.so.0.
if [[ -L $R/lib ]]; then
  rm "$R/lib"
  mkdir "$R/lib"
  for zp_e in /usr/lib/*; do
    ln -s "$zp_e" "$R/lib/${zp_e##*/}"
  done
  unset zp_e
else
  zp_refuse "the host's /lib is not a link to /usr/lib"
fi

# The handler that starts MIPS programs through qemu-user. binfmt_misc is per user
# namespace from Linux 6.7 on: mounted in the player's own user namespace it is a
# fresh, private instance that ends with the player. Where the kernel has none,
# the mount fails (older kernels allow binfmt_misc only in the first user
# namespace), and nothing is registered.
if [[ $(tr -s ' \t' ' ' </proc/self/uid_map) == " 0 0 4294967295" ]]; then
  zp_refuse "the player has no user namespace of its own; a handler would be the host's"
fi
zp_bm=$R/proc/sys/fs/binfmt_misc
mount -t binfmt_misc zelplayer "$zp_bm" 2>/dev/null ||
  zp_refuse "this kernel ($(uname -r)) has no binfmt_misc private to a user namespace (Linux 6.7 or later)"
if [[ -e $zp_bm/zel-mipsel ]] || ! [[ -e $zp_bm/register ]]; then
  zp_refuse "the binfmt_misc instance is not the player's own"
fi
# Debian's magic and mask for little-endian MIPS32 executables. The handler is
# qemu itself, started at once under the program's name (the kernel names the
# process after the program), so that pidof finds a MIPS zeldaemon from its first
# instant as on the player. pidof (sysvinit's) matches argv[0], which here is the
# handler's path, or the process name when argv[0] holds a blank: hence the blank
# in the handler's name.
IFS=: read -r _ _ _ _ zp_magic zp_mask _ _ </usr/lib/binfmt.d/qemu-mipsel.conf ||
  zp_refuse "/usr/lib/binfmt.d/qemu-mipsel.conf unreadable (qemu-user-static)"
mkdir -p "$R/player/mipsel"
ln -s /usr/bin/qemu-mipsel-static "$R/player/mipsel/qemu mipsel"
printf ':zel-mipsel:M::%s:%s:/player/mipsel/qemu mipsel:' "$zp_magic" "$zp_mask" >"$zp_bm/register" ||
  zp_refuse "registering the handler failed"
unset zp_bm zp_magic zp_mask
