#!/bin/sh
# Flash faults end to end: zelctl commit in the simulated player against erase
# failures, unreadable geometry and missing devices. For each: the exit status, the
# erase requests the emulated device answered, and the partition's bytes (the old
# image kept, or the new one written).
fail() { echo "FAIL: $*" >&2; exit 1; }
image=/player/flash.img
n=0

# The image a commit of the current settings writes: the file's bytes, the fresh
# process's zeroed buffer up to 64 KiB, the rest of the partition erased.
new_image() {
  size=$(stat -c %s /tmp/setting.txt)
  { cat /tmp/setting.txt; head -c $((65536 - size)) /dev/zero
    head -c $(($(stat -c %s $image) - 65536)) /dev/zero | tr '\0' '\377'; } > /tmp/want.img
}

# case NAME STATUS kept|written FAILED_ERASES SETUP: SETUP breaks the flash, then a
# changed setting is committed.
case_() {
  name=$1 want_rc=$2 want_flash=$3 want_fails=$4 setup=$5
  n=$((n + 1))
  cp $image /tmp/before.img
  : > /dev/mtd1.log
  zelctl set probe="$name" || fail "$name: set"
  eval "$setup"
  zelctl commit 2>/tmp/commit.err
  rc=$?
  rm -f /dev/mtd1.erase_fail /dev/mtd1.getinfo_fail
  [ "$rc" = "$want_rc" ] || fail "$name: commit status $rc, wanted $want_rc"
  if [ "$want_flash" = kept ]; then
    cmp -s /tmp/before.img $image || fail "$name: flash changed"
  else
    new_image
    cmp -s /tmp/want.img $image || fail "$name: flash is not the new image: $(cmp /tmp/want.img $image)"
  fi
  fails=$(grep -c ' fail$' /dev/mtd1.log)
  [ "$fails" = "$want_fails" ] || fail "$name: $fails failed erases, wanted $want_fails"
}

# Each erase request that fails is retried after reopening, three times at most.
case_ erase_fails_once 0 written 1 'echo 1 > /dev/mtd1.erase_fail'
case_ erase_fails_three_times 0 written 3 'echo 3 > /dev/mtd1.erase_fail'
case_ erase_fails_four_times 1 kept 4 'echo 4 > /dev/mtd1.erase_fail'
case_ erase_fails_for_good 1 kept 4 'echo -1 > /dev/mtd1.erase_fail'
grep -q ' ok$' /dev/mtd1.log && fail "erase_fails_for_good: a block was erased"
case_ geometry_unreadable 1 kept 0 ': > /dev/mtd1.getinfo_fail'
grep -q '^erase' /dev/mtd1.log && fail "geometry_unreadable: an erase was tried"
# The unlock device is a courtesy: without it the commit goes on.
case_ unlock_device_missing 0 written 0 'rm /dev/mtd0'

# The settings partition gone: the commit fails before touching anything, the
# settings file stays as it was, and start-up reports it and keeps the file.
umount /dev/mtd1 && rm /dev/mtd1 || fail "cannot take /dev/mtd1 away"
case_ settings_device_missing 1 kept 0 ''
cp /tmp/setting.txt /tmp/file.before
zelctl init 2>/tmp/init.err && fail "init without /dev/mtd1 succeeded"
grep -q 'error reading flash: \[/dev/mtd1\] size 010000' /tmp/init.err || fail "init: $(cat /tmp/init.err)"
cmp -s /tmp/file.before /tmp/setting.txt || fail "init without /dev/mtd1 changed the settings file"
[ "$(zelctl get probe)" = settings_device_missing ] || fail "setting lost after failed commit"
echo "flash faults e2e passed ($n cases)"
