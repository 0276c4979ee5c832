#!/bin/sh
# Flash faults end to end: zelctl commit in the simulated player against erase
# failures, unreadable geometry and missing devices. For each: the exit status, the
# erase requests the emulated device answered, and the partition's bytes (the old
# image kept, or the new one written with its spare copy).
set -u
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
image=/player/flash.img
# The emulation's knobs: the next COUNT erase requests fail (-1: every one), and the
# geometry request fails.
erase_fail() { echo "$1" > /dev/mtd1.erase_fail; }
getinfo_fails() { : > /dev/mtd1.getinfo_fail; }
info_says() { zelctl info | grep -q "$1"; }

# The new settings as a commit writes them: the file's bytes and the fresh process's
# zeroed buffer up to 64 KiB at offset 0; the same in the spare copy, whose last 16
# bytes are its trailer.
new_image() {
    size=$(stat -c %s /tmp/setting.txt)
    { cat /tmp/setting.txt; head -c $((65536 - size)) /dev/zero; } > /tmp/want.img
    head -c 65520 /tmp/want.img > /tmp/want.spare
}

# flash_case NAME STATUS kept|written FAILED_ERASES SETUP [ARG...]: the command SETUP
# breaks the flash, then a changed setting is committed.
flash_case() {
    name=$1 want_rc=$2 want_flash=$3 want_fails=$4
    shift 4
    cp $image /tmp/before.img
    : > /dev/mtd1.log
    check "$name: set" -- zelctl set probe="$name"
    "$@"
    zelctl commit 2>/tmp/commit.err
    expect_eq "$name: commit status" $? "$want_rc"
    rm -f /dev/mtd1.erase_fail /dev/mtd1.getinfo_fail
    if [ "$want_flash" = kept ]; then
        expect_file "$name: flash kept" $image /tmp/before.img
    else
        new_image
        head -c 65536 $image > /tmp/got.img
        expect_file "$name: the new image at offset 0" /tmp/got.img /tmp/want.img
        dd if=$image bs=65536 skip=1 2>/dev/null | head -c 65520 > /tmp/got.spare
        expect_file "$name: the new spare copy" /tmp/got.spare /tmp/want.spare
        check "$name: its trailer valid" -- info_says "^spare copy: valid"
    fi
    # The board's drivers keep no log of their requests.
    on_board || expect_eq "$name: failed erases" "$(grep -c ' fail$' /dev/mtd1.log)" "$want_fails"
}

if on_board; then
    skip "erase failures, unreadable geometry" "the emulation's erase_fail and getinfo_fail knobs (a bad NAND block below)"
else
    # Each erase request that fails is retried after reopening, three times at most.
    flash_case erase_fails_once 0 written 1 erase_fail 1
    flash_case erase_fails_three_times 0 written 3 erase_fail 3
    flash_case erase_fails_four_times 1 kept 4 erase_fail 4
    flash_case erase_fails_for_good 1 kept 4 erase_fail -1
    check "erase_fails_for_good: no block erased" -- not grep -q " ok$" /dev/mtd1.log
    flash_case geometry_unreadable 1 kept 0 getinfo_fails
    check "geometry_unreadable: no erase tried" -- not grep -q "^erase" /dev/mtd1.log
fi
# The unlock device is a courtesy: without it the commit goes on.
flash_case unlock_device_missing 0 written 0 rm /dev/mtd0
# NOR flash programs only over erased bytes: every block written is erased first.
: > /dev/mtd1.nor
flash_case nor_flash 0 written 0 true
rm /dev/mtd1.nor
# A block gone bad on NAND flash: the driver refuses every erase of it. It is the
# spare copy's first, which a commit erases first. (Marking it bad erases it.)
if [ "${ZP_BOARD:-}" = nand ]; then
    check "mark the spare copy's first block bad" -- zel-mtd bad 65536
    flash_case bad_block 1 kept 4 true
else
    skip bad_block "bad blocks are the board's NAND chip's (ZP_BOARD=nand)"
fi

# A boot that cannot put the spare copy back at offset 0 says so (exit 1) and still
# reads its settings; the next boot reads them again.
if on_board; then
    skip restore "the emulation's cut and erase_fail knobs"
else
    zelctl set probe=restore
    echo "erase 2" > /dev/mtd1.cut
    zelctl commit
    expect_eq "restore: commit cut after the spare copy" $? 137
    rm -f /dev/mtd1.cut
    echo -1 > /dev/mtd1.erase_fail
    zelctl init 2>/tmp/init.err
    expect_eq "restore: init status" $? 1
    expect_eq "restore: message" "$(cat /tmp/init.err)" \
        "zelctl: cannot put the spare copy back at offset 0 of /dev/mtd1; it stays the only whole copy"
    expect_eq "restore: settings read" "$(zelctl get probe)" restore
    rm -f /dev/mtd1.erase_fail
    check "restore: the next boot" -- zelctl init
    expect_eq "restore: settings read again" "$(zelctl get probe)" restore
fi

# The settings partition gone: the commit fails before touching anything, the
# settings file stays as it was, and start-up reports it and keeps the file.
# (On the board it is a device node, not a file mounted there.)
take_mtd1_away() { umount /dev/mtd1 2>/dev/null; rm /dev/mtd1; }
check "take /dev/mtd1 away" -- take_mtd1_away
flash_case settings_device_missing 1 kept 0 true
cp /tmp/setting.txt /tmp/file.before
zelctl init 2>/tmp/init.err
expect_eq "init without /dev/mtd1: status" $? 1
check "init without /dev/mtd1: message" -- grep -q "error reading flash: \[/dev/mtd1\] size 010000" /tmp/init.err
expect_file "init without /dev/mtd1: settings file kept" /tmp/setting.txt /tmp/file.before
expect_eq "setting kept after a failed commit" "$(zelctl get probe)" settings_device_missing
finish
