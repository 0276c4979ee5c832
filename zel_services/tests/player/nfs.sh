#!/bin/bash
# NFS export table with stand-in tools, byte for byte.
# Player: disks HARD_DISK and USB_DRIVE_A-1, eth0 192.168.1.23/24, wlan0 10.1.2.3/8.
source "$(dirname "$0")/lib.sh"
ETH=192.168.1.0/255.255.255.0
WLAN=10.1.2.0/255.0.0.0
mkdir -p /usb_drive_b /data /xSATA_DISKy

case_ "reload: share first, then the disks in listing order, nothing else"
reset_scene
echo "/old *(rw)" > /etc/exports
zs cmd=nfs_share opt=eth0
expect_text /etc/exports "$(entry share $ETH; entry HARD_DISK $ETH; entry USB_DRIVE_A-1 $ETH; entry xSATA_DISKy $ETH)
"
expect_absent /tmp/exports /tmp/share.list
expect_eq "$(calls)" "" "the reload does not run exportfs"
expect_eq "$err" "" "stderr"

case_ "reload for the option's interface, and for every client when it has no address"
reset_scene
zs cmd=nfs_share opt=wlan0
expect_eq "$(head -n1 /etc/exports)" "$(entry share $WLAN)" "wlan0"
zs cmd=nfs_share opt=eth9
expect_eq "$(head -n1 /etc/exports)" "$(entry share '*')" "unknown interface"
zs cmd=nfs_share no-option
expect_eq "$(head -n1 /etc/exports)" "$(entry share '*')" "empty option"

case_ "add: a block of entries, each after an empty line, then exportfs -r"
reset_scene
entry share $ETH > /etc/exports
zs cmd=add_share 'opt=SATA_DISK|#USB_DRIVE_B'
want="$(entry share $ETH)

$(entry SATA_DISK $ETH)

$(entry USB_DRIVE_B $ETH)
"
expect_text /etc/exports "$want"
expect_text "$tools/1-exportfs.args" $'-r\n'
# exportfs must read the table that holds the new entries.
expect_text "$tools/1-exportfs.exports" "$want"
expect_absent /tmp/exports

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
  expect_text /etc/exports "
$(entry HARD_DISK $net)
"
done

case_ "add: a folder added twice gets two entries"
reset_scene
: > /etc/exports
zs cmd=add_share 'opt=HARD_DISK|#HARD_DISK'
expect_eq "$(grep -c HARD_DISK /etc/exports)" 2 "entries"

case_ "remove: only the entries of exactly that folder go; empty lines stay"
reset_scene
printf '%s\n\n%s\n\n%s\n%s\n' "$(entry share $ETH)" "$(entry USB_DRIVE_A-1 $ETH)" \
  "$(entry USB_DRIVE_A-10 $ETH)" "$(entry USB_DRIVE_A-1 '*')" > /etc/exports
zs cmd=remove_share opt=USB_DRIVE_A-1
want="$(entry share $ETH)


$(entry USB_DRIVE_A-10 $ETH)
"
expect_text /etc/exports "$want"
expect_text "$tools/1-exportfs.args" $'-r\n'
expect_text "$tools/1-exportfs.exports" "$want"
expect_absent /tmp/exports /tmp/exports.tmp

case_ "remove: a name not in the table leaves it as it was and still re-reads"
reset_scene
printf '%s\n\n%s\n' "$(entry share $ETH)" "$(entry HARD_DISK $ETH)" > /etc/exports
cp /etc/exports /tmp/before
zs cmd=remove_share opt=SATA_DISK
expect_file /etc/exports /tmp/before
expect_eq "$(calls | grep -c '^exportfs -r$')" 1 "exportfs runs"

case_ "remove: without a table, a stale copy is never put in place"
reset_scene
entry STALE '*' > /tmp/exports.tmp
zs cmd=remove_share opt=HARD_DISK
expect_absent /etc/exports
expect_eq "$(calls | grep -c exportfs)" 0 "exportfs runs"

case_ "refused names change nothing and run nothing"
reset_scene
entry share $ETH > /etc/exports
cp /etc/exports /tmp/before
printf '[global]\n\tworkgroup = W\n' | tee /etc/samba/lib/smb.conf > /tmp/smb.before
for opt in $'HARD_DISK\n/ *(rw,no_root_squash)' 'HARD_DISK|#' '|#HARD_DISK' '../etc' 'a/b' \
           'my  disk' ' lead' 'global' 'a"b' '.' '..' "$(printf 'n%.0s' {1..50})"; do
  zs cmd=add_share "opt=$opt"
  expect_eq "$err" "[zel_services] Invalid share name!" "add [$opt]"
done
for opt in $'x\ny' '../etc' 'a/b' "$(printf 'n%.0s' {1..50})"; do
  zs cmd=remove_share "opt=$opt"
  expect_eq "$err" "[zel_services] Invalid share name!" "remove [$opt]"
done
# A second argument without "opt=" is an empty name: it would match every entry.
zs cmd=remove_share USB_DRIVE_A-1
expect_eq "$err" "[zel_services] Invalid share name!" "remove of the empty name"
expect_file /etc/exports /tmp/before
expect_file /etc/samba/lib/smb.conf /tmp/smb.before
expect_eq "$(calls)" "" "tool calls"
expect_absent /tmp/exports /tmp/exports.tmp /tmp/smb.conf.master

case_ "a 49-character name is taken whole"
reset_scene
: > /etc/exports
long=$(printf 'L%.0s' {1..49})
zs cmd=add_share "opt=$long"
expect_text /etc/exports "
$(entry "$long" $ETH)
"
zs cmd=remove_share "opt=$long"
expect_text /etc/exports $'\n'

finish
