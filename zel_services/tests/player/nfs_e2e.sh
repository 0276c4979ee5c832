#!/bin/bash
# NFS export table with stand-in tools, byte for byte.
# Player: disks HARD_DISK and USB_DRIVE_A-1, eth0 192.168.1.23/24, wlan0 10.1.2.3/8.
set -u
# shellcheck source=testsupport/zel_services_lib.sh
source "$(dirname "$0")/../../../testsupport/zel_services_lib.sh"
ETH=192.168.1.0/255.255.255.0
WLAN=10.1.2.0/255.0.0.0
mkdir -p /usb_drive_b /data /xSATA_DISKy

case_ "reload: share first, then the disks in listing order, nothing else"
reset_scene
echo "/old *(rw)" > /etc/exports
zs cmd=nfs_share opt=eth0
expect_file "$c: table" /etc/exports "$(want "$(entry share $ETH; entry HARD_DISK $ETH; entry USB_DRIVE_A-1 $ETH; entry xSATA_DISKy $ETH)
")"
expect_no_file "$c: temporary files gone" /tmp/exports /tmp/share.list /tmp/exports.saved
expect_eq "$c: the reload does not run exportfs" "$(calls)" ""
expect_eq "$c: stderr" "$err" ""

case_ "reload: the scan takes disks by the rule of add_share and remove_share"
long49=HARD_DISK$(printf 'x%.0s' $(seq 40))
mkdir -p "/My HARD_DISK" "/$long49" "/${long49}y" '/HARD_DISK"q' '/SATA_DISK%m' "/SATA_DISK  two"
zs cmd=nfs_share opt=eth0
expect_file "$c: table" /etc/exports "$(want "$(entry share $ETH; entry HARD_DISK $ETH; entry "$long49" $ETH
  printf '"/My HARD_DISK" %s(rw,sync,root_squash,anonuid=1001,anongid=1001)\n' $ETH
  entry USB_DRIVE_A-1 $ETH; entry xSATA_DISKy $ETH)
")"
zs cmd=remove_share "opt=My HARD_DISK"
zs cmd=remove_share "opt=$long49"
expect_eq "$c: every disk of the scan can be removed" "$(cut -d' ' -f1 /etc/exports | paste -sd' ')" \
  "/share /HARD_DISK /USB_DRIVE_A-1 /xSATA_DISKy"
rmdir "/My HARD_DISK" "/$long49" "/${long49}y" '/HARD_DISK"q' '/SATA_DISK%m' "/SATA_DISK  two"

case_ "reload for the option's interface, and for every client when it has no address"
reset_scene
zs cmd=nfs_share opt=wlan0
expect_eq "$c: wlan0" "$(head -n1 /etc/exports)" "$(entry share $WLAN)"
zs cmd=nfs_share opt=eth9
expect_eq "$c: unknown interface" "$(head -n1 /etc/exports)" "$(entry share '*')"
zs cmd=nfs_share no-option
expect_eq "$c: empty option" "$(head -n1 /etc/exports)" "$(entry share '*')"

case_ "add: a block of entries, each after an empty line, then exportfs -r"
reset_scene
entry share $ETH > /etc/exports
zs cmd=add_share 'opt=SATA_DISK|#USB_DRIVE_B'
table="$(entry share $ETH)

$(entry SATA_DISK $ETH)

$(entry USB_DRIVE_B $ETH)
"
expect_file "$c: table" /etc/exports "$(want "$table")"
expect_file "$c: exportfs -r" "$tools/1-exportfs.args" "$(want $'-r\n')"
# exportfs must read the table that holds the new entries.
expect_file "$c: exportfs reads the new table" "$tools/1-exportfs.exports" "$(want "$table")"
expect_no_file "$c: temporary files gone" /tmp/exports /tmp/exports.saved

case_ "add: the setting wireless picks the interface"
for w in absent empty 0 1 yes; do
  reset_scene
  : > /etc/exports
  case $w in
    absent) ;;
    empty) printf '\nwireless=\0' > /tmp/setting.txt ;;
    *) printf '\nupnp=1\nwireless=%s\0' "$w" > /tmp/setting.txt ;;
  esac
  zs cmd=add_share opt=HARD_DISK
  case $w in 1|yes) net=$WLAN ;; *) net=$ETH ;; esac
  expect_file "$c: wireless $w" /etc/exports "$(want "
$(entry HARD_DISK $net)
")"
done

case_ "add: a folder added twice gets two entries"
reset_scene
: > /etc/exports
zs cmd=add_share 'opt=HARD_DISK|#HARD_DISK'
expect_eq "$c: entries" "$(grep -c HARD_DISK /etc/exports)" 2

case_ "add and remove: a blank between words is quoted into the path"
reset_scene
entry share $ETH > /etc/exports
zs cmd=add_share 'opt=My Disk|#HARD_DISK'
expect_file "$c: table" /etc/exports "$(want "$(entry share $ETH)

\"/My Disk\" $ETH(rw,sync,root_squash,anonuid=1001,anongid=1001)

$(entry HARD_DISK $ETH)
")"
zs cmd=remove_share 'opt=My Disk'
expect_file "$c: removed" /etc/exports "$(want "$(entry share $ETH)


$(entry HARD_DISK $ETH)
")"

case_ "remove: only the entries of exactly that folder go; empty lines stay"
reset_scene
printf '%s\n\n%s\n\n%s\n%s\n' "$(entry share $ETH)" "$(entry USB_DRIVE_A-1 $ETH)" \
  "$(entry USB_DRIVE_A-10 $ETH)" "$(entry USB_DRIVE_A-1 '*')" > /etc/exports
zs cmd=remove_share opt=USB_DRIVE_A-1
table="$(entry share $ETH)


$(entry USB_DRIVE_A-10 $ETH)
"
expect_file "$c: table" /etc/exports "$(want "$table")"
expect_file "$c: exportfs -r" "$tools/1-exportfs.args" "$(want $'-r\n')"
expect_file "$c: exportfs reads the new table" "$tools/1-exportfs.exports" "$(want "$table")"
expect_no_file "$c: temporary files gone" /tmp/exports /tmp/exports.tmp /tmp/exports.saved

case_ "remove: a table whose last line has no line feed keeps it so"
reset_scene
printf '%s\n%s' "$(entry share $ETH)" "$(entry HARD_DISK $ETH)" > /etc/exports
zs cmd=remove_share opt=share
expect_file "$c: table" /etc/exports "$(want "$(entry HARD_DISK $ETH)")"
expect_eq "$c: nothing said" "$said" ""

case_ "remove: the exports of folders inside the disk go with it"
reset_scene
printf '%s\n%s\n%s\n%s\n' "$(entry share $ETH)" "$(entry HARD_DISK $ETH)" "$(entry HARD_DISK/Movies '*')" \
  "$(entry HARD_DISK2/Movies $ETH)" > /etc/exports
printf '"/HARD_DISK/My Films" %s(rw)\n' "$ETH" >> /etc/exports
zs cmd=remove_share opt=HARD_DISK
expect_file "$c: table" /etc/exports "$(want "$(entry share $ETH; entry HARD_DISK2/Movies $ETH)
")"

case_ "a saved table of an earlier run whose put-back failed goes back before anything else"
for op in "cmd=nfs_share opt=eth0" "cmd=add_share opt=SATA_DISK" "cmd=remove_share opt=USB_DRIVE_A-1"; do
  reset_scene
  printf '%s\n%s\n' "$(entry share $ETH)" "$(entry USB_DRIVE_A-1 $ETH)" > /tmp/exports.saved
  printf '/share 192.168' > /etc/exports
  zs $op
  expect_eq "$c: $op: put back said" "$said" "[zel_services] Put back /etc/exports from /tmp/exports.saved"
  expect_no_file "$c: $op: saved copy gone once back" /tmp/exports.saved
  case $op in
    *nfs_share*) want_table="$(entry share $ETH; entry HARD_DISK $ETH; entry USB_DRIVE_A-1 $ETH; entry xSATA_DISKy $ETH)" ;;
    *add_share*) want_table="$(entry share $ETH; entry USB_DRIVE_A-1 $ETH)

$(entry SATA_DISK $ETH)" ;;
    *) want_table="$(entry share $ETH)" ;;
  esac
  expect_file "$c: $op: built on the saved table" /etc/exports "$(want "$want_table
")"
done
# Only a saved copy of our own goes back: another user's file there is not trusted.
reset_scene
entry share $ETH > /etc/exports
cp /etc/exports /tmp/before
entry ROGUE '*' > /tmp/exports.saved
chown 1000 /tmp/exports.saved
zs cmd=add_share opt=SATA_DISK
expect_file "$c: another user's copy: table" /etc/exports "$(want "$(entry share $ETH)

$(entry SATA_DISK $ETH)
")"
expect_eq "$c: another user's copy: nothing said" "$said" ""

case_ "remove: a name not in the table leaves it as it was and still re-reads"
reset_scene
printf '%s\n\n%s\n' "$(entry share $ETH)" "$(entry HARD_DISK $ETH)" > /etc/exports
cp /etc/exports /tmp/before
zs cmd=remove_share opt=SATA_DISK
expect_file "$c: table" /etc/exports /tmp/before
expect_eq "$c: exportfs runs" "$(calls | grep -c '^exportfs -r$')" 1

case_ "remove: without a table, a stale copy is never put in place"
reset_scene
entry STALE '*' > /tmp/exports.tmp
zs cmd=remove_share opt=HARD_DISK
expect_no_file "$c: no table" /etc/exports
expect_eq "$c: exportfs runs" "$(calls | grep -c exportfs)" 0

case_ "refused names change nothing and run nothing"
reset_scene
entry share $ETH > /etc/exports
cp /etc/exports /tmp/before
printf '[global]\n\tworkgroup = W\n' | tee /etc/samba/lib/smb.conf > /tmp/smb.before
for opt in $'HARD_DISK\n/ *(rw,no_root_squash)' 'HARD_DISK|#' '|#HARD_DISK' '../etc' 'a/b' \
           'my  disk' ' lead' 'global' 'a"b' '.' '..' "$(printf 'n%.0s' $(seq 50))" \
           'x[share' 'IPC$' 'SHARE' 'USB_DRIVE_B|#usb_drive_b'; do
  zs cmd=add_share "opt=$opt"
  expect_eq "$c: add [$opt]" "$err" "[zel_services] Invalid share name!"
done
for opt in $'x\ny' '../etc' 'a/b' "$(printf 'n%.0s' $(seq 50))"; do
  zs cmd=remove_share "opt=$opt"
  expect_eq "$c: remove [$opt]" "$err" "[zel_services] Invalid share name!"
done
# A second argument without "opt=" is an empty name: it would match every entry.
zs cmd=remove_share USB_DRIVE_A-1
expect_eq "$c: remove of the empty name" "$err" "[zel_services] Invalid share name!"
expect_file "$c: table" /etc/exports /tmp/before
expect_file "$c: Samba configuration" /etc/samba/lib/smb.conf /tmp/smb.before
expect_eq "$c: tool calls" "$(calls)" ""
expect_no_file "$c: no temporary file" /tmp/exports /tmp/exports.tmp /tmp/smb.conf.master

case_ "a 49-character name is taken whole"
reset_scene
: > /etc/exports
long=$(printf 'L%.0s' $(seq 49))
zs cmd=add_share "opt=$long"
expect_file "$c: added" /etc/exports "$(want "
$(entry "$long" $ETH)
")"
zs cmd=remove_share "opt=$long"
expect_file "$c: removed" /etc/exports "$(want $'\n')"

case_ "a table that cannot be saved first is not replaced"
for op in "cmd=nfs_share opt=eth0" "cmd=add_share opt=SATA_DISK" "cmd=remove_share opt=HARD_DISK"; do
  reset_scene
  printf '%s\n\n%s\n' "$(entry share $ETH)" "$(entry HARD_DISK $ETH)" > /etc/exports
  cp /etc/exports /tmp/before
  mkdir /tmp/exports.saved
  zs $op
  expect_file "$c: $op: table" /etc/exports /tmp/before
  expect_eq "$c: $op: message" "$said" \
    "[zel_services] Cannot save /etc/exports to /tmp/exports.saved; it is left as it was"
  expect_eq "$c: $op: exportfs not run" "$(calls)" ""
done

case_ "a table that fills /etc to the last byte is taken; one byte or one line more is not"
# /etc on a file system of its own, as full as each row needs.
cp -a /etc /tmp/etc.all
mount -t tmpfs -o size=$(($(du -sk /etc | cut -f1) + 64))k zsetc /etc
cp -a /tmp/etc.all/. /etc
fits=$((2 * $(stat -f -c %S /etc)))
added=$({ echo; entry SATA_DISK $ETH; } | wc -c)
# The last row cuts it after a line feed: only the count of bytes tells.
for size in $((fits - 1)) $fits $((fits + 1)) $((fits + $(entry SATA_DISK $ETH | tail -n 1 | wc -c))); do
  reset_scene
  { entry share $ETH; line_of $((size - added - $(entry share $ETH | wc -c))); } > /etc/exports
  cp /etc/exports /tmp/before
  room /etc/exports $fits
  zs cmd=add_share opt=SATA_DISK
  expect_no_file "$c: $size bytes: saved copy gone" /tmp/exports.saved
  if [ $size -le $fits ]; then
    expect_file "$c: $size bytes: table" /etc/exports "$(want "$(cat /tmp/before; echo; entry SATA_DISK $ETH)
")"
    expect_eq "$c: $size bytes: nothing said" "$said" ""
  else
    expect_file "$c: $size bytes: table" /etc/exports /tmp/before
    expect_eq "$c: $size bytes: message" "$said" \
      "[zel_services] \"cat /tmp/exports >> /etc/exports\" failed; /etc/exports is left as it was"
  fi
done
umount /etc
rm -rf /tmp/etc.all

case_ "a root that cannot be listed leaves the table or the Samba configuration as it was"
for op in "cmd=nfs_share opt=eth0" "cmd=smb_workgrp opt=W"; do
  reset_scene
  entry share $ETH > /etc/exports
  echo "[global]" > /etc/samba/lib/smb.conf
  cp /etc/exports /tmp/before.exports
  cp /etc/samba/lib/smb.conf /tmp/before.smb
  mkdir /tmp/share.list
  zs $op
  expect_file "$c: $op: table" /etc/exports /tmp/before.exports
  expect_file "$c: $op: Samba configuration" /etc/samba/lib/smb.conf /tmp/before.smb
  what="Change workgroup"
  [ "$op" = "cmd=nfs_share opt=eth0" ] && what="Reload NFS share"
  expect_eq "$c: $op: message" "$said" "[zel_services] $what failed due to the failure on system call!"
  expect_eq "$c: $op: no tool run" "$(calls)" ""
done
rm -rf /tmp/share.list

finish
