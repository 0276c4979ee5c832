#!/bin/sh
# --target mipsel: the MIPS uClibc programs run in the simulated player, and the
# binfmt_misc handler that starts them exists only inside it: never on the host,
# neither while a player runs nor after.
# usage: player_target_e2e.sh ZELPLAYER BUILD_DIR MIPSEL_ROOTFS MIPSEL_HELPERS
set -u
player=$1 build=$2 root=$3 helpers=$4
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
# The firmware's paths, as the host build exported them from zel_paths.h.
. "$build/player/bin/zel_paths.sh"

for f in "$root$ZEL_BIN_DIR/zeldaemon" "$root/lib/ld-uClibc.so.0" "$helpers/libzel_mtdemu.so"; do
  if [ ! -e "$f" ]; then
    echo "FAIL $f missing: the MIPS build comes from ./zel cross (the cross stage of ./zel test)"
    exit 1
  fi
done
asks_for_uclibc() { readelf -l "$1" | grep -q 'interpreter: /lib/ld-uClibc.so.0]'; }
check "the shipped daemon asks for uClibc's loader" \
  -- asks_for_uclibc "$root$ZEL_BIN_DIR/zeldaemon"

# The kernel's one global instance, looked at from a private mount namespace (the
# host has none mounted, and none is left mounted).
host_handlers() {
  unshare --mount --propagation private sh -c \
    'mount -t binfmt_misc zeltest /proc/sys/fs/binfmt_misc && ls /proc/sys/fs/binfmt_misc'
}
no_host_handler() { host_handlers >/tmp/zel-binfmt.$$ && ! grep -qx zel-mipsel /tmp/zel-binfmt.$$; }

out=$("$player" --build "$build" --target mipsel -- sh -c '
  grep -qx enabled /proc/sys/fs/binfmt_misc/zel-mipsel && echo handler
  ls /lib/ld-uClibc.so.0 /lib/libc.so.0
  zelctl get upnp' 2>&1)
expect_eq "MIPS zelctl runs through the player's handler" "$out" "handler
/lib/ld-uClibc.so.0
/lib/libc.so.0
1"

# A player that runs for a while: the host's instance never holds the handler.
"$player" --build "$build" --target mipsel -- sh -c 'zelctl get upnp >/dev/null; sleep 4' &
running=$!
sleep 2
check "no handler on the host while a player runs" -- no_host_handler
wait $running
check "no handler on the host afterwards" -- no_host_handler
rm -f /tmp/zel-binfmt.$$
finish
