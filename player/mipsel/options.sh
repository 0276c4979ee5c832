# shellcheck shell=bash
# Sourced by zelplayer for --target mipsel: the MIPS uClibc programs of
# ./zel cross, started through qemu-user by a binfmt_misc handler that only the
# player's own user namespace sees (see root.sh).
if [[ ${target:?} != mipsel ]]; then
  echo "zelplayer: unknown --target $target (host or mipsel)" >&2
  exit 2
fi
# shellcheck source=scripts/build_lib.sh
. "${top:?}/scripts/build_lib.sh"
[[ -n "$rootfs" ]] || rootfs=$zel_rootfs_mipsel
ZP_MIPSEL_HELPERS=$zel_mipsel_helpers
for f in "$rootfs$zel_bin_dir/zeldaemon" "$rootfs/lib/ld-uClibc.so.0" \
         "$ZP_MIPSEL_HELPERS/libzel_mtdemu.so" "$ZP_MIPSEL_HELPERS/libzel_speed.so"; do
  if [[ ! -e $f ]]; then
    echo "zelplayer: --target mipsel: $f missing: run ./zel cross first" >&2
    exit 2
  fi
done
if [[ ! -x /usr/bin/qemu-mipsel-static ]]; then
  echo "zelplayer: --target mipsel: /usr/bin/qemu-mipsel-static missing (package qemu-user-static)" >&2
  exit 2
fi
# binfmt_misc has one instance per user namespace (Linux 6.7 on): the player gets a
# user namespace of its own, created before its other namespaces so that they
# belong to it, and the handler it registers stays inside. A user who is not root
# has one already (--map-root-user).
# shellcheck disable=SC2034 # zelplayer starts the player through it
mipsel_launch=(perl "$here/mipsel/userns-exec")
export ZP_TARGET=$target ZP_MIPSEL_HELPERS
