#!/bin/bash
# NFS and Samba with Debian's real exportfs and testparm.
# Player: disks HARD_DISK and USB_DRIVE_A-1, eth0 192.168.1.23/24, real tools.
set -u
# shellcheck source=testsupport/zel_services_lib.sh
source "$(dirname "$0")/../../../testsupport/zel_services_lib.sh"
ETH=192.168.1.0/255.255.255.0
conf=/etc/samba/lib/smb.conf

# What the real tool makes of a master text.
tool_output() { "$ZEL_BIN_DIR/testparm" -s "$1" 2>/dev/null; }
exportfs_quiet() { /usr/sbin/exportfs -r 2>/tmp/exportfs.err; }
exportfs_accepts() { exportfs_quiet || { grep -v subtree_check /tmp/exportfs.err | head -5; return 1; }; }
# The folders the NFS server serves, their octal escapes undone, sorted, "|" between.
exported() {
  local f
  cut -f1 /var/lib/nfs/etab | while IFS= read -r f; do
    printf '%b\n' "$(sed 's/\\\([0-7][0-7][0-7]\)/\\0\1/g' <<< "$f")"
  done | sort | paste -sd'|'
}
# The parameters testparm keeps in the section [NAME] of its output, "|" between.
section_params() {
  awk -v h="[$1]" '$0 == h { on = 1; next } /^\[/ { on = 0 } on && NF { sub(/^\t/, ""); print }' | paste -sd'|'
}
plain_share() { echo "force create mode = 0644|force directory mode = 0755|path = /$1|read only = No|valid users = zel"; }

case_ "fresh player: add two folders, remove one"
# The firmware's Samba configuration is in place, the export table is not yet.
cp $conf /tmp/firmware.conf
zs cmd=add_share 'opt=HARD_DISK|#USB_DRIVE_A-1'
zs cmd=remove_share opt=USB_DRIVE_A-1
expect_file "$c: table" /etc/exports "$(want "
$(entry HARD_DISK $ETH)

")"
check "$c: exportfs accepts the table" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" "/HARD_DISK"
{ cat /tmp/firmware.conf; section HARD_DISK; } > /tmp/want.master
tool_output /tmp/want.master > /tmp/want.conf
expect_file "$c: configuration" $conf /tmp/want.conf
expect_no_file "$c: temporary files gone" /tmp/exports /tmp/exports.tmp /tmp/smb.conf /tmp/smb.conf.master \
  /tmp/exports.saved /tmp/smb.conf.saved

case_ "workgroup: the tool accepts the master text"
zs cmd=smb_workgrp 'opt=HOME GROUP'
tool_output "$golden_dir/smb_master_two_disks.conf" > /tmp/want.conf
expect_file "$c: configuration" $conf /tmp/want.conf
check "$c: workgroup line" -- grep -q $'^\tworkgroup = HOME GROUP$' $conf
check "$c: log file line" -- grep -q $'^\tlog file = /etc/samba/var/%m.log$' $conf
expect_no_file "$c: temporary files gone" /tmp/smb.conf.master /tmp/share.list

case_ "add then remove on the tool's re-sorted output"
mkdir -p /USB_DRIVE_B /SATA_X
zs cmd=add_share 'opt=USB_DRIVE_B|#SATA_X'
check "$c: USB_DRIVE_B added" -- grep -q '^\[USB_DRIVE_B\]$' $conf
# Every share section keeps a header and exactly five parameter lines.
five_line_sections() {
  awk '/^\[/ { if (h != "" && h != "[global]" && n != 5) bad = bad " " h; h = $0; n = 0; next }
     /^\t/ { n++ } END { if (h != "[global]" && n != 5) bad = bad " " h; if (bad) { print bad; exit 1 } }' $conf
}
check "$c: sections of five lines" -- five_line_sections
check "$c: exportfs accepts the table" -- exportfs_accepts
zs cmd=remove_share opt=USB_DRIVE_B
{ cat "$golden_dir/smb_master_two_disks.conf"; section SATA_X; } > /tmp/want.master
tool_output /tmp/want.master > /tmp/want.conf
expect_file "$c: configuration" $conf /tmp/want.conf
check "$c: exportfs accepts the table after the removal" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" "/HARD_DISK|/SATA_X"

case_ "reload: exportfs accepts the table"
zs cmd=nfs_share opt=eth0
check "$c: exportfs accepts the table" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" "/HARD_DISK|/USB_DRIVE_A-1|/USB_DRIVE_B|/share"

case_ "remove and add on a reloaded table"
zs cmd=remove_share opt=HARD_DISK
zs cmd=add_share opt=HARD_DISK
check "$c: exportfs accepts the table" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" "/HARD_DISK|/USB_DRIVE_A-1|/USB_DRIVE_B|/share"

case_ "a blank between words: a quoted export and a plain section, both served"
mkdir -p "/My Disk"
zs cmd=add_share "opt=My Disk"
check "$c: exportfs accepts the table" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" "/HARD_DISK|/My Disk|/USB_DRIVE_A-1|/USB_DRIVE_B|/share"
expect_eq "$c: section served" "$(section_params "My Disk" < $conf)" "$(plain_share "My Disk")"
zs cmd=remove_share "opt=My Disk"
check "$c: exportfs accepts the table after the removal" -- exportfs_accepts
expect_eq "$c: export removed" "$(exported)" "/HARD_DISK|/USB_DRIVE_A-1|/USB_DRIVE_B|/share"
expect_eq "$c: section removed" "$(grep -c '^\[My Disk\]$' $conf)" 0

case_ "the scan: a disk with a blank is served by both, one the rule refuses by neither"
long=USB_DRIVE_$(printf 'x%.0s' {1..40})
mkdir -p "/My HARD_DISK" "/$long" '/HARD_DISK"x'
zs cmd=nfs_share opt=eth0
check "$c: exportfs accepts the table" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" \
  "/HARD_DISK|/My HARD_DISK|/USB_DRIVE_A-1|/USB_DRIVE_B|/share"
zs cmd=smb_workgrp opt=W
expect_eq "$c: section served" "$(section_params "My HARD_DISK" < $conf)" "$(plain_share "My HARD_DISK")"
expect_eq "$c: sections" "$(grep '^\[' $conf | paste -sd'|')" \
  "[global]|[share]|[HARD_DISK]|[My HARD_DISK]|[USB_DRIVE_A-1]|[USB_DRIVE_B]"

# Each refused name with what the real tools make of the entry and the section
# zel_services would write for it: "breaks" where the tool shows it, "-" where the
# harm comes later (Samba's special [homes], "%" expanded per client by the server).
refused=(
  'a"b|breaks|-'
  'a\040b|breaks|-'
  'a]b|-|breaks'
  'global|-|breaks'
  'GLOBAL|-|breaks'
  'Printers|-|breaks'
  'homes|-|-'
  'p%m|-|-'
  'trail |-|breaks'
  'two  words|-|breaks'
  'IPC$|-|-'
  'x[share|-|-'
)
# 0 when exportfs serves the folder and the share after them under their own names.
nfs_takes() {
  printf '"/%s" %s(rw,sync,root_squash,anonuid=1001,anongid=1001)\n' "$1" $ETH > /etc/exports
  entry share $ETH >> /etc/exports
  : > /var/lib/nfs/etab
  exportfs_quiet && [[ "$(exported)" == "$(printf '/%s\n/share\n' "$1" | sort | paste -sd'|')" ]]
}
# 0 when testparm keeps the section under its name as a plain share.
smb_takes() {
  { cat /tmp/firmware.conf; section "$1"; } > /tmp/naive.master
  [[ "$(tool_output /tmp/naive.master | section_params "$1")" == "$(plain_share "$1")" ]]
}

case_ "refused names: what the real tools make of them"
cp /etc/exports /tmp/exports.before
mkdir -p "/SATA_DISK x"
both_take() { nfs_takes "$1" && smb_takes "$1"; }
check "$c: both take an accepted name" -- both_take 'SATA_DISK x'
for row in "${refused[@]}"; do
  IFS='|' read -r name nfs smb <<< "$row"
  mkdir -p "/$name"
  if [[ $nfs == breaks ]]; then check "$c: exportfs breaks on [$name]" -- not nfs_takes "$name"; fi
  if [[ $smb == breaks ]]; then check "$c: testparm breaks on [$name]" -- not smb_takes "$name"; fi
done
cp /tmp/exports.before /etc/exports
check "$c: exportfs takes the table back" -- exportfs_accepts

case_ "refused names: nothing changes, both tools keep serving"
cp /etc/exports /tmp/exports.before
cp $conf /tmp/conf.before
served=$(exported)
for row in "${refused[@]}"; do
  IFS='|' read -r name _ <<< "$row"
  zs cmd=add_share "opt=SATA_DISK|#$name"
  expect_eq "$c: add [$name]" "$said" "[zel_services] Invalid share name!"
  zs cmd=remove_share "opt=$name"
  expect_eq "$c: remove [$name]" "$said" "[zel_services] Invalid share name!"
done
expect_file "$c: table" /etc/exports /tmp/exports.before
expect_file "$c: configuration" $conf /tmp/conf.before
check "$c: exportfs accepts the table" -- exportfs_accepts
expect_eq "$c: exports served" "$(exported)" "$served"
expect_eq "$c: [global] still there" "$(grep -c '^\[global\]$' $conf)" 1

case_ "testparm exits 0 over an output that a full file system cut: nothing replaced"
mount -t tmpfs -o size=4k zsfull /etc/samba/lib
cp /tmp/conf.before $conf
check "$c: the configuration fits before" -- [ "$(wc -c < $conf)" -lt 3000 ]
# Fifty sections: testparm's output needs more than the 4 KiB.
zs cmd=add_share "opt=$(seq -f 'D%02g' 1 50 | paste -sd'|' | sed 's/|/|#/g')"
expect_file "$c: configuration" $conf /tmp/conf.before
expect_eq "$c: message" "$said" \
  "[zel_services] \"/mnt/oak7210/bin/testparm -s /tmp/smb.conf.master > $conf\" did not write $conf whole; it is left as it was"
umount /etc/samba/lib

finish
