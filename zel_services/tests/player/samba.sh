#!/bin/bash
# Samba master text with stand-in tools (testparm copies it through), byte for byte.
# Player: disks HARD_DISK and USB_DRIVE_A-1.
source "$(dirname "$0")/lib.sh"
conf=/etc/samba/lib/smb.conf
mkdir -p /usb_drive_b /data

section() {
  printf '[%s]\n\tpath = /%s\n\twriteable = yes\n\tvalid users = zel\n' "$1" "$1"
  printf '\tforce create mode = 0644\n\tforce directory mode = 0755\n'
}

case_ "workgroup: 25 global lines, share, then the disks in listing order"
reset_scene
zs cmd=smb_workgrp 'opt=HOME GROUP'
expect_file $conf "$golden_dir/smb_master_two_disks.conf"
expect_eq "$(calls)" "testparm -s|/tmp/smb.conf.master" "tool call"
expect_absent /tmp/smb.conf.master /tmp/share.list
expect_eq "$err" "" "stderr"

case_ "add: sections appended in list order"
reset_scene
cp "$golden_dir/smb_master_two_disks.conf" $conf
zs cmd=add_share 'opt=SATA_DISK|#USB_DRIVE_B'
expect_text $conf "$(cat "$golden_dir/smb_master_two_disks.conf"; section SATA_DISK; section USB_DRIVE_B)
"
expect_absent /tmp/smb.conf.master

case_ "remove: [share] goes with its five lines, [shared] stays"
reset_scene
{ printf '[global]\n\tworkgroup = W\n'; section shared; section share; section HARD_DISK; } > $conf
zs cmd=remove_share opt=share
expect_text $conf "$(printf '[global]\n\tworkgroup = W\n'; section shared; section HARD_DISK)
"
expect_absent /tmp/smb.conf.master /tmp/smb.conf

case_ "remove: a name without a section runs the tool over an unchanged copy"
reset_scene
cp "$golden_dir/smb_master_two_disks.conf" $conf
zs cmd=remove_share opt=SATA_DISK
expect_file $conf "$golden_dir/smb_master_two_disks.conf"
expect_eq "$(calls)" "testparm -s|/tmp/smb.conf.master" "tool call"

case_ "a failing tool leaves the previous configuration in place"
for op in "cmd=add_share opt=SATA_DISK" "cmd=remove_share opt=HARD_DISK" "cmd=smb_workgrp opt=OTHER"; do
  reset_scene
  cp "$golden_dir/smb_master_two_disks.conf" $conf
  touch /player/switches/testparm-fail
  zs $op
  expect_file $conf "$golden_dir/smb_master_two_disks.conf"
  # The master stays behind for a look at what the tool refused.
  [[ -e /tmp/smb.conf.master ]] || fail "$op: master removed"
  expect_absent /tmp/smb.conf.saved
done
reset_scene
touch /player/switches/testparm-fail
zs cmd=smb_workgrp opt=W
expect_absent $conf

case_ "workgroup: blanks kept, control characters refused"
reset_scene
zs cmd=smb_workgrp 'opt=  My  Group '
expect_eq "$(sed -n 2p $conf)" $'\tworkgroup =   My  Group ' "workgroup line"
cp $conf /tmp/before
rm -rf "${tools:?}"/*
zs cmd=smb_workgrp $'opt=W\n[root]\n\tpath = /'
expect_eq "$err" "[zel_services] Invalid workgroup name!" "message"
zs cmd=smb_workgrp $'opt=W\r'
expect_file $conf /tmp/before
expect_eq "$(calls)" "" "tool calls"

case_ "the whole option text of remove_share is one name"
reset_scene
{ section HARD_DISK; section USB_DRIVE_A-1; } > $conf
zs cmd=remove_share 'opt=HARD_DISK|#USB_DRIVE_A-1'
expect_text $conf "$(section HARD_DISK; section USB_DRIVE_A-1)
"

finish
