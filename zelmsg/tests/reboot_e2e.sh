#!/bin/sh
# A committed setting survives a reboot: two fresh players over one flash image.
# usage: reboot_e2e.sh ZELPLAYER BUILD_DIR
player=$1 build=$2
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
run() { "$player" --build "$build" --flash "$dir/flash.img" -- sh -c "$1"; }

run 'zelctl set upnp=0 probe=42 && zelctl commit && zelctl set hlink=0' || { echo "FAIL: first boot" >&2; exit 1; }
out=$(run 'zelctl get upnp; zelctl get probe; zelctl get hlink')
[ "$out" = "$(printf '0\n42\n1')" ] || { echo "FAIL: after reboot: [$out]" >&2; exit 1; }
echo "reboot e2e passed"
