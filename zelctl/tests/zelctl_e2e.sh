#!/bin/sh
# zelctl's commands in the simulated player, over the emulated flash.
set -u
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
# The firmware's paths, exported from zelmsg/include/zel_paths.h.
. /player/bin/zel_paths.sh

# expect STATUS OUTPUT CMD...: the command's exit status and standard output.
expect() {
    want_rc=$1 want_out=$2
    shift 2
    out=$("$@" 2>/tmp/e2e.err)
    rc=$?
    expect_eq "$(echo "$*" | head -n 1)" "status $rc [$out]" "status $want_rc [$want_out]"
}
erase_flash() { zel-mtd erase; }
# zelctl info prints the line LINE; one that matches the extended expression ERE.
info_is() { zelctl info | grep -qx "$1"; }
info_matches() { zelctl info | grep -Eqx "$1"; }
# The partition's erase blocks: the board's chip (ZP_BOARD) in the board's table of
# chips, else the emulation's.
erasesize=65536
if on_board; then
    erasesize=$(awk -v c="$ZP_BOARD" '$1 == c { print $2 }' "$(dirname "$0")/../../player/board/chips")
fi
# Two copies of 64 KiB in whole blocks fit in the 128 KiB partition, but for 128 KiB
# blocks.
room=1
[ "$erasesize" -le 65536 ] || room=""

# Booted from the new image: the service settings are there.
expect 0 1 zelctl get upnp
expect 1 "" zelctl get no_such_key

expect 0 "" zelctl set upnp=0 probe=a=b
expect 0 0 zelctl get upnp
expect 0 a=b zelctl get probe
# Changed records move to the end, in file order.
expect_eq "show keeps file order" "$(zelctl show | tail -n 2)" "$(printf 'upnp=0\nprobe=a=b')"

# A value that would forge a record is refused; the other pair still lands.
expect 1 "" zelctl set "$(printf 'x=1\nupnp=1')" ok=1
expect 0 0 zelctl get upnp
expect 0 1 zelctl get ok
expect 0 "" zelctl unset ok probe
expect 1 "" zelctl get probe

# A value get could never read back (over 1023 characters) is refused with a message;
# 1023 characters still go in and come back.
long=$(head -c 1024 /dev/zero | tr '\0' v)
expect 1 "" zelctl set "big=$long" ok=1
check "set of 1024 characters says why" -- grep -q "cannot set big: value longer than 1023 characters" /tmp/e2e.err
expect 1 "" zelctl get big
expect 0 1 zelctl get ok
expect 0 "" zelctl set "big=${long#v}"
expect 0 "${long#v}" zelctl get big
expect 0 "" zelctl unset big ok

# Usage errors.
for args in "" "get" "get a b" "set" "set novalue" "unset" "show x" "dump" "dump disk" "frobnicate" \
    "info x" "init x" "init --defaults"; do
    # shellcheck disable=SC2086
    zelctl $args >/dev/null 2>/tmp/e2e.err
    expect_eq "zelctl $args: status" $? 2
    check "zelctl $args: usage text" -- grep -q "^usage: zelctl" /tmp/e2e.err
done

# Commit, lose the file, recreate it from flash.
expect 0 "" zelctl commit
rm /tmp/setting.txt
expect 1 "" zelctl get upnp
expect 0 "" zelctl init
expect 0 0 zelctl get upnp

if on_board; then
    skip "a commit whose erase fails, unreadable flash" "the emulation's erase_fail and open_fail knobs (flash_faults_e2e marks a NAND block bad)"
else
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
fi

# A settings file that cannot be written: init says so and fails.
mv /tmp/setting.txt /tmp/setting.saved
mkdir /tmp/setting.txt
expect 1 "" zelctl init
check "init names the file it could not write" -- grep -q "cannot write /tmp/setting.txt" /tmp/e2e.err
rmdir /tmp/setting.txt
mv /tmp/setting.saved /tmp/setting.txt

# Dumps: the file's bytes, and the whole image.
dump_length() { zelctl dump "$1" | head -n 1 | grep -q "length=0x$2\$"; }
check "dump settings" -- dump_length settings "$(printf %x "$(stat -c %s /tmp/setting.txt)")"
check "dump flash" -- dump_length flash 10000

# info: the partition, both copies, the text's room, file against flash.
zelctl set probe=info
if [ -n "$room" ]; then
    spare="spare copy: valid, sequence 1, text 82 bytes
text: 82 bytes, room for 65437 more"
else
    spare="spare copy: no room (a partition of 262144 bytes holds one)
text: 82 bytes, room for 65452 more"
fi
expect 0 "partition: 131072 bytes, erase blocks of $erasesize bytes
image at offset 0: whole
$spare
file and flash: different settings" zelctl info
zelctl commit
[ -z "$room" ] ||
    check "info after a commit: the sequence counts on" -- info_is "spare copy: valid, sequence 2, text 93 bytes"
check "info after a commit: the same settings" -- info_is "file and flash: same settings"
if [ -z "$room" ]; then
    skip "a cut or erased image and its spare copy" "no spare copy in blocks of $erasesize bytes"
else
    # Offset 0 cut: the spare copy is what the next boot takes.
    if [ "${ZP_BOARD:-}" = nand ]; then
        skip "info on a cut image" "NAND takes whole pages only: no 40 bytes can be written"
    else
        head -c 40 /dev/zero | tr '\0' '\377' | dd of=/dev/mtd1 conv=notrunc 2>/dev/null
        check "info on a cut image" -- info_is "image at offset 0: cut (erased bytes inside the text); the next boot restores the spare copy"
        check "info on a cut image: the file holds what the boot reads" -- info_is "file and flash: same settings"
    fi
    # The image's first block really erased (on NAND the rest of the image stays):
    # the boot writes the spare copy back.
    zel-mtd erase 0 "$erasesize"
    check "info on an erased block 0" -- info_matches "image at offset 0: (erased|cut \(erased bytes inside the text\)); the next boot restores the spare copy"
    rm /tmp/setting.txt
    expect 0 "" zelctl init
    expect 0 info zelctl get probe
    check "block 0 restored from the spare copy" -- info_is "image at offset 0: whole"
fi
erase_flash
expect 0 "partition: 131072 bytes, erase blocks of $erasesize bytes
image at offset 0: erased
$([ -n "$room" ] && echo "spare copy: missing
text: 0 bytes, room for 65519 more" || echo "spare copy: no room (a partition of 262144 bytes holds one)
text: 0 bytes, room for 65534 more")
file and flash: different settings" zelctl info
if on_board; then
    skip "info without room" "the emulation's erasesize knob (the board's nand-2k has no room)"
else
    echo 131072 > /dev/mtd1.erasesize
    check "info without room" -- info_is "spare copy: no room (a partition of 262144 bytes holds one)"
    rm /dev/mtd1.erasesize
fi

# Defaults: an erased flash takes the integrator's file, commits it and says so.
printf '# shipped defaults\n\nupnp=0\n  # indented comment\nname=a b=c\nnoequals\n' > /tmp/defaults
rm /tmp/setting.txt
expect 1 "" zelctl init --defaults /tmp/defaults
check "defaults: said on stderr" -- grep -q "no settings on flash: 2 defaults from /tmp/defaults written to flash" /tmp/e2e.err
check "defaults: the bad line named" -- grep -q "/tmp/defaults:6: no key=value" /tmp/e2e.err
expect_eq "defaults: the store" "$(zelctl show)" "$(printf 'upnp=0\nname=a b=c')"
rm /tmp/setting.txt
expect 0 "" zelctl init
expect 0 "a b=c" zelctl get name
# A flash that holds settings keeps them, and nothing is said.
zelctl set name=kept && zelctl commit
expect 0 "" zelctl init --defaults /tmp/defaults
expect_eq "defaults: nothing said when the flash holds settings" "$(cat /tmp/e2e.err)" ""
expect 0 kept zelctl get name

# The boot and the init script take the shipped defaults from their fixed place.
printf 'upnp=1\nshipped=boot\n' > "$ZEL_DEFAULTS_FILE"
erase_flash
rm /tmp/setting.txt
sh /player/boot true
expect 0 boot zelctl get shipped
erase_flash
rm /tmp/setting.txt
/etc/init.d/S60zeldaemon start >/dev/null 2>/tmp/e2e.err
check "init script: said on stderr" -- grep -q "no settings on flash: 2 defaults" /tmp/e2e.err
expect 0 boot zelctl get shipped
zelctl set shipped=changed
/etc/init.d/S60zeldaemon restart >/dev/null 2>&1
expect 0 changed zelctl get shipped
/etc/init.d/S60zeldaemon stop >/dev/null
rm "$ZEL_DEFAULTS_FILE"
finish
