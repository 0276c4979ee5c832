#!/bin/bash
# NFS and Samba with Debian's real exportfs and testparm.
# Player: disks HARD_DISK and USB_DRIVE_A-1, eth0 192.168.1.23/24, real tools.
source "$(dirname "$0")/lib.sh"
ETH=192.168.1.0/255.255.255.0
conf=/etc/samba/lib/smb.conf

section() {
  printf '[%s]\n\tpath = /%s\n\twriteable = yes\n\tvalid users = zel\n' "$1" "$1"
  printf '\tforce create mode = 0644\n\tforce directory mode = 0755\n'
}
# What the real tool makes of a master text.
tool_output() { /mnt/oak7210/bin/testparm -s "$1" 2>/dev/null; }
exportfs_accepts() {
  local rc=0
  /usr/sbin/exportfs -r 2>/tmp/exportfs.err || rc=$?
  [[ $rc == 0 ]] || { fail "exportfs -r exited $rc"; cat /tmp/exportfs.err; }
}
exported() { cut -f1 /var/lib/nfs/etab | sort | paste -sd' '; }

case_ "fresh player: add two folders, remove one"
# The firmware's Samba configuration is in place, the export table is not yet.
cp $conf /tmp/firmware.conf
zs cmd=add_share 'opt=HARD_DISK|#USB_DRIVE_A-1'
zs cmd=remove_share opt=USB_DRIVE_A-1
expect_text /etc/exports "
$(entry HARD_DISK $ETH)

"
exportfs_accepts
expect_eq "$(exported)" "/HARD_DISK" "exports served"
{ cat /tmp/firmware.conf; section HARD_DISK; } > /tmp/want.master
tool_output /tmp/want.master > /tmp/want.conf
expect_file $conf /tmp/want.conf
expect_absent /tmp/exports /tmp/exports.tmp /tmp/smb.conf /tmp/smb.conf.master

case_ "workgroup: the tool accepts the master text"
zs cmd=smb_workgrp 'opt=HOME GROUP'
tool_output "$golden_dir/smb_master_two_disks.conf" > /tmp/want.conf
expect_file $conf /tmp/want.conf
grep -q $'^\tworkgroup = HOME GROUP$' $conf || fail "workgroup line"
grep -q $'^\tlog file = /etc/samba/var/%m.log$' $conf || fail "log file line"
expect_absent /tmp/smb.conf.master /tmp/share.list

case_ "add then remove on the tool's re-sorted output"
mkdir -p /USB_DRIVE_B /SATA_X
zs cmd=add_share 'opt=USB_DRIVE_B|#SATA_X'
grep -q '^\[USB_DRIVE_B\]$' $conf || fail "USB_DRIVE_B added"
# Every share section keeps a header and exactly five parameter lines.
awk '/^\[/ { if (h != "" && h != "[global]" && n != 5) bad = bad " " h; h = $0; n = 0; next }
     /^\t/ { n++ } END { if (h != "[global]" && n != 5) bad = bad " " h; if (bad) { print bad; exit 1 } }' \
  $conf || fail "sections without five lines"
exportfs_accepts
zs cmd=remove_share opt=USB_DRIVE_B
{ cat "$golden_dir/smb_master_two_disks.conf"; section SATA_X; } > /tmp/want.master
tool_output /tmp/want.master > /tmp/want.conf
expect_file $conf /tmp/want.conf
exportfs_accepts
expect_eq "$(exported)" "/HARD_DISK /SATA_X" "exports served"

case_ "reload: exportfs accepts the table"
zs cmd=nfs_share opt=eth0
exportfs_accepts
expect_eq "$(exported)" "/HARD_DISK /USB_DRIVE_A-1 /USB_DRIVE_B /share" "exports served"

case_ "remove and add on a reloaded table"
zs cmd=remove_share opt=HARD_DISK
zs cmd=add_share opt=HARD_DISK
exportfs_accepts
expect_eq "$(exported)" "/HARD_DISK /USB_DRIVE_A-1 /USB_DRIVE_B /share" "exports served"

finish
