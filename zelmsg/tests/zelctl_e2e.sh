#!/bin/sh
# zelctl's settings commands in the simulated player, over the emulated flash.
fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { # expect STATUS OUTPUT CMD...
  want_rc=$1 want_out=$2; shift 2
  out=$("$@" 2>/tmp/e2e.err); rc=$?
  [ "$rc" = "$want_rc" ] || fail "$*: status $rc, wanted $want_rc"
  [ "$out" = "$want_out" ] || fail "$*: printed [$out], wanted [$want_out]"
}

# Booted from the new image: the service settings are there.
expect 0 1 zelctl get upnp
expect 1 "" zelctl get no_such_key

expect 0 "" zelctl set upnp=0 probe=a=b
expect 0 0 zelctl get upnp
expect 0 a=b zelctl get probe
# Changed records move to the end, in file order.
zelctl show | tail -n 2 > /tmp/e2e.show
printf 'upnp=0\nprobe=a=b\n' | cmp -s - /tmp/e2e.show || fail "show order: $(cat /tmp/e2e.show)"

# A value that would forge a record is refused; the other pair still lands.
expect 1 "" zelctl set "$(printf 'x=1\nupnp=1')" ok=1
expect 0 0 zelctl get upnp
expect 0 1 zelctl get ok
expect 0 "" zelctl unset ok probe
expect 1 "" zelctl get probe

# Usage errors.
for args in "" "get" "get a b" "set" "set novalue" "unset" "show x" "dump" "dump disk" "frobnicate"; do
  # shellcheck disable=SC2086
  zelctl $args >/dev/null 2>/tmp/e2e.err
  [ $? = 2 ] || fail "zelctl $args: status not 2"
  grep -q '^usage: zelctl' /tmp/e2e.err || fail "zelctl $args: no usage text"
done

# Commit, lose the file, recreate it from flash.
expect 0 "" zelctl commit
rm /tmp/setting.txt
expect 1 "" zelctl get upnp
expect 0 "" zelctl init
expect 0 0 zelctl get upnp

# A commit whose erase fails for good reports it and keeps the flash.
echo -1 > /dev/mtd1.erase_fail
zelctl set upnp=1
expect 1 "" zelctl commit
rm /dev/mtd1.erase_fail
expect 0 "" zelctl init
expect 0 0 zelctl get upnp

# Unreadable flash: init fails and leaves the file alone.
echo -1 > /dev/mtd1.open_fail
expect 1 "" zelctl init
rm /dev/mtd1.open_fail
expect 0 0 zelctl get upnp

# Dumps: the file's bytes, and the whole image.
expect 0 "" sh -c 'zelctl dump settings | head -n 1 | grep -q "length=0x$(printf %x $(stat -c %s /tmp/setting.txt))\$"'
expect 0 "" sh -c 'zelctl dump flash | head -n 1 | grep -q "length=0x10000\$"'
echo "zelctl e2e passed"
