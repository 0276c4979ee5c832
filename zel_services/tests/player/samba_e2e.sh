#!/bin/bash
# Samba master text with stand-in tools (testparm copies it through), byte for byte.
# Player: disks HARD_DISK and USB_DRIVE_A-1.
set -u
# shellcheck source=testsupport/zel_services_lib.sh
source "$(dirname "$0")/../../../testsupport/zel_services_lib.sh"
conf=/etc/samba/lib/smb.conf
golden=$golden_dir/smb_master_two_disks.conf
mkdir -p /usb_drive_b /data

case_ "workgroup: 25 global lines, share, then the disks in listing order"
reset_scene
zs cmd=smb_workgrp 'opt=HOME GROUP'
expect_file "$c: configuration" $conf "$golden"
expect_eq "$c: tool call" "$(calls)" "testparm -s|/tmp/smb.conf.master"
expect_no_file "$c: temporary files gone" /tmp/smb.conf.master /tmp/share.list /tmp/smb.conf.saved
expect_eq "$c: stderr" "$err" ""

case_ "add: sections appended in list order"
reset_scene
cp "$golden" $conf
zs cmd=add_share 'opt=SATA_DISK|#USB_DRIVE_B'
expect_file "$c: configuration" $conf "$(want "$(cat "$golden"; section SATA_DISK; section USB_DRIVE_B)
")"
expect_no_file "$c: temporary files gone" /tmp/smb.conf.master /tmp/smb.conf.saved

case_ "remove: [share] goes with its five lines, [shared] stays"
reset_scene
{ printf '[global]\n\tworkgroup = W\n'; section shared; section share; section HARD_DISK; } > $conf
zs cmd=remove_share opt=share
expect_file "$c: configuration" $conf "$(want "$(printf '[global]\n\tworkgroup = W\n'; section shared; section HARD_DISK)
")"
expect_no_file "$c: temporary files gone" /tmp/smb.conf.master /tmp/smb.conf /tmp/smb.conf.saved

case_ "remove: a name without a section runs the tool over an unchanged copy"
reset_scene
cp "$golden" $conf
zs cmd=remove_share opt=SATA_DISK
expect_file "$c: configuration" $conf "$golden"
expect_eq "$c: tool call" "$(calls)" "testparm -s|/tmp/smb.conf.master"

case_ "a failing tool leaves the previous configuration in place"
for op in "cmd=add_share opt=SATA_DISK" "cmd=remove_share opt=HARD_DISK" "cmd=smb_workgrp opt=OTHER"; do
  reset_scene
  cp "$golden" $conf
  touch /player/switches/testparm-fail
  zs $op
  expect_file "$c: $op: configuration" $conf "$golden"
  # The master stays behind for a look at what the tool refused.
  expect_file "$c: $op: master kept" /tmp/smb.conf.master
  expect_no_file "$c: $op: saved copy gone" /tmp/smb.conf.saved
  expect_eq "$c: $op: message" "$said" \
    "[zel_services] \"/mnt/oak7210/bin/testparm -s /tmp/smb.conf.master > $conf\" failed; $conf is left as it was"
done
reset_scene
touch /player/switches/testparm-fail
zs cmd=smb_workgrp opt=W
expect_no_file "$c: no configuration before, none after" $conf

case_ "a failing tool whose configuration cannot be put back: the saved copy stays until it goes back"
for op in "cmd=add_share opt=SATA_DISK" "cmd=smb_workgrp opt=OTHER"; do
  reset_scene
  cp "$golden" $conf
  touch /player/switches/testparm-fail /player/switches/testparm-readonly
  zs $op
  umount /etc/samba/lib
  expect_file "$c: $op: previous configuration saved" /tmp/smb.conf.saved "$golden"
  expect_eq "$c: $op: message" "$said" \
    "[zel_services] Cannot put back $conf; the previous one is kept in /tmp/smb.conf.saved"
  # The next run puts the saved copy back first and builds on it, not on the cut file.
  rm /player/switches/testparm-fail /player/switches/testparm-readonly
  zs cmd=add_share opt=USB_DRIVE_B
  expect_file "$c: $op: next run builds on the previous configuration" $conf \
    "$(want "$(cat "$golden"; section USB_DRIVE_B)
")"
  expect_no_file "$c: $op: saved copy gone once back" /tmp/smb.conf.saved
  expect_eq "$c: $op: put back said" "$said" "[zel_services] Put back $conf from /tmp/smb.conf.saved"
done

case_ "a tool that exits 0 over an output cut by a full file system replaces nothing"
reset_scene
mount -t tmpfs -o size=8k zsfull /etc/samba/lib
# Before: about 7.4 of the 8 KiB; the output would need about 9.8.
{ cat "$golden"; for n in $(seq 10 60); do section "SATA_DISK$n"; done; } > $conf
cp $conf /tmp/before
list=$(for n in $(seq 1 20); do printf 'USB_DRIVE_%02d|#' "$n"; done)
list=${list%|#}
zs cmd=add_share "opt=$list"
expect_file "$c: configuration" $conf /tmp/before
expect_no_file "$c: saved copy gone" /tmp/smb.conf.saved
expect_eq "$c: message" "$said" \
  "[zel_services] \"/mnt/oak7210/bin/testparm -s /tmp/smb.conf.master > $conf\" did not write $conf whole; it is left as it was"
umount /etc/samba/lib

case_ "a configuration that fills its file system to the last byte is taken; one byte or one line more is not"
mount -t tmpfs -o size=64k zsfull /etc/samba/lib
fits=$((2 * $(stat -f -c %S /etc/samba/lib)))
added=$(section SATA_DISK | wc -c)
# The last row cuts it after a line feed: only the count of bytes tells.
for size in $((fits - 1)) $fits $((fits + 1)) $((fits + $(section SATA_DISK | tail -n 1 | wc -c))); do
  reset_scene
  { cat "$golden"; line_of $((size - added - $(wc -c < "$golden"))); } > $conf
  cp $conf /tmp/before
  room $conf $fits
  zs cmd=add_share opt=SATA_DISK
  expect_no_file "$c: $size bytes: saved copy gone" /tmp/smb.conf.saved
  if [ $size -le $fits ]; then
    expect_no_file "$c: $size bytes: testparm's output gone" /tmp/smb.conf
    expect_file "$c: $size bytes: configuration" $conf "$(want "$(cat /tmp/before; section SATA_DISK)
")"
    expect_eq "$c: $size bytes: nothing said" "$said" ""
  else
    expect_file "$c: $size bytes: configuration" $conf /tmp/before
    expect_eq "$c: $size bytes: message" "$said" \
      "[zel_services] \"/mnt/oak7210/bin/testparm -s /tmp/smb.conf.master > $conf\" did not write $conf whole; it is left as it was"
  fi
done
umount /etc/samba/lib

case_ "a configuration that cannot be saved first is not replaced"
for op in "cmd=add_share opt=SATA_DISK" "cmd=remove_share opt=HARD_DISK" "cmd=smb_workgrp opt=OTHER"; do
  reset_scene
  cp "$golden" $conf
  mkdir /tmp/smb.conf.saved
  zs $op
  expect_file "$c: $op: configuration" $conf "$golden"
  expect_eq "$c: $op: message" "$said" \
    "[zel_services] Cannot save $conf to /tmp/smb.conf.saved; it is left as it was"
  expect_eq "$c: $op: testparm not run" "$(calls | grep -c testparm)" 0
done

case_ "names Samba takes for another section are refused; a disk in another case is left out"
reset_scene
{ cat "$golden"; section Music; } > $conf
cp $conf /tmp/before
for opt in SHARE Share music hard_disk 'IPC$' 'ipc$' 'x[share' 'USB_DRIVE_B|#usb_drive_b'; do
  zs cmd=add_share "opt=$opt"
  expect_eq "$c: add [$opt]" "$said" "[zel_services] Invalid share name!"
done
expect_file "$c: configuration" $conf /tmp/before
expect_eq "$c: tool calls" "$(calls)" ""
zs cmd=add_share opt=HARD_DISK
expect_eq "$c: the same name again is taken" "$(grep -c '^\[HARD_DISK\]$' $conf)" 2
mkdir /USB_DRIVE_a-1
zs cmd=smb_workgrp opt=W
expect_eq "$c: scan message" "$said" "[zel_services] Disk USB_DRIVE_a-1 left out: Samba takes it for USB_DRIVE_A-1"
expect_eq "$c: sections" "$(grep '^\[' $conf | paste -sd' ')" "[global] [share] [HARD_DISK] [USB_DRIVE_A-1]"
rmdir /USB_DRIVE_a-1
# Every section written can be removed again: "share" does not take "[x[share]" along.
{ section 'x[share'; section share; } > $conf
zs cmd=remove_share opt=share
expect_file "$c: only [share] removed" $conf "$(want "$(section 'x[share')
")"

case_ "workgroup: blanks kept, control characters refused"
reset_scene
zs cmd=smb_workgrp 'opt=  My  Group '
expect_eq "$c: workgroup line" "$(sed -n 2p $conf)" $'\tworkgroup =   My  Group '
cp $conf /tmp/before
rm -rf "${tools:?}"/*
zs cmd=smb_workgrp $'opt=W\n[root]\n\tpath = /'
expect_eq "$c: message" "$err" "[zel_services] Invalid workgroup name!"
zs cmd=smb_workgrp $'opt=W\r'
# A backslash at the end would take the template's next line into the workgroup.
zs cmd=smb_workgrp 'opt=W\'
expect_eq "$c: backslash refused" "$err" "[zel_services] Invalid workgroup name!"
expect_file "$c: configuration" $conf /tmp/before
expect_eq "$c: tool calls" "$(calls)" ""

case_ "the whole option text of remove_share is one name"
reset_scene
{ section HARD_DISK; section USB_DRIVE_A-1; } > $conf
zs cmd=remove_share 'opt=HARD_DISK|#USB_DRIVE_A-1'
expect_file "$c: configuration" $conf "$(want "$(section HARD_DISK; section USB_DRIVE_A-1)
")"

finish
