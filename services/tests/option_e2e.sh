#!/bin/bash
# zelplayer --services: with real, a package of the list that is not installed is
# named, exit 2, before anything starts, and the root gets the scripts, accounts and
# files the servers need; the stand-ins need no package and get none of it.
#   option_e2e.sh ZELPLAYER BUILD_DIR
set -u
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
player=$1 build=$2
list=$(mktemp)
trap 'rm -f "$list"' EXIT
printf '# test\nbash  the shell\nzel-no-such-package  missing\n' > "$list"
out=$(ZP_SERVICES_PACKAGES=$list "$player" --build "$build" --services real -- sh -c 'echo started' 2>&1)
rc=$?
expect_eq "missing package: exit 2" "$rc" 2
expect_eq "missing package: named" "$out" \
  "zelplayer: --services real needs the Debian package zel-no-such-package (apt-get install zel-no-such-package, or ./zel test installs it)"
out=$(ZP_SERVICES_PACKAGES=$list "$player" --build "$build" -- sh -c 'echo started' 2>&1)
expect_eq "stand-ins: no package checked" "$out" started
out=$("$player" --build "$build" --services other -- true 2>&1)
expect_eq "unknown value: exit 2" "$?" 2

# What each root holds: the Samba script's first line, the account, /etc/mtab.
root_shows() {
  "$player" --build "$build" "$@" -- sh -c \
    '. /player/bin/zel_paths.sh; sed -n 2p "$ZEL_ETC_DIR/smb.sh"; grep "^zel:" /etc/passwd; readlink /etc/mtab; stat -c %u /share'
}
expect_eq "stand-ins: nothing of the real services" "$(root_shows)" \
  "$(printf '%s\n' "# Stand-in for the player's service scripts and programs. Installed under each real" 0)"
expect_eq "real: script, account, mount table, owner of /share" "$(root_shows --services real)" \
  "$(printf '%s\n' "# Samba: smbd and nmbd over /etc/samba/lib/smb.conf exactly as zel_services wrote" \
     "zel:x:1001:1001:zel:/share:/usr/sbin/nologin" /proc/self/mounts 1001)"
finish
