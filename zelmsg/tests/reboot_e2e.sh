#!/bin/sh
# A committed setting survives a reboot: two fresh players over one flash image.
# usage: reboot_e2e.sh ZELPLAYER BUILD_DIR
set -u
player=$1 build=$2
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
run() { "$player" --build "$build" --flash "$dir/flash.img" -- sh -c "$1"; }

check "first boot: set, commit, set" -- run 'zelctl set upnp=0 probe=42 && zelctl commit && zelctl set hlink=0'
expect_eq "after reboot: the committed settings only" "$(run 'zelctl get upnp; zelctl get probe; zelctl get hlink')" \
    "$(printf '0\n42\n1')"
finish
