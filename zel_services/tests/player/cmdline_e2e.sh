#!/bin/bash
# The command line of the installed program: what runs, what is printed, exit 0.
# Player: disk HARD_DISK, eth0 192.168.1.23/24, stand-in tools.
set -u
# shellcheck source=testsupport/zel_services_lib.sh
source "$(dirname "$0")/../../../testsupport/zel_services_lib.sh"
ETH=192.168.1.0/255.255.255.0

nothing_ran() {
  expect_no_file "$c: no file touched" /etc/exports /tmp/share.list /tmp/exports
  expect_eq "$c: tool calls" "$(calls)" ""
}

case_ "fewer than two arguments: silent, nothing touched"
reset_scene
zs
expect_eq "$c: stderr" "$err" ""
zs cmd=nfs_share
expect_eq "$c: stderr" "$err" ""
nothing_ran

case_ "cmd= alone ends the run before the option is looked at"
reset_scene
zs cmd= opt=
expect_eq "$c: stderr" "$err" "[zel_services] cmd = NULL!"
zs cmd= opt=eth0
expect_eq "$c: stderr" "$err" "[zel_services] cmd = NULL!"
nothing_ran

case_ "opt= alone ends the run"
reset_scene
zs cmd=nfs_share opt=
expect_eq "$c: stderr" "$err" "[zel_services] opt = NULL!"
nothing_ran

case_ "names that differ in case, length or end select nothing"
reset_scene
for cmd in NFS_SHARE nfs_sharex nfs_shar Nfs_share "nfs_share " \
           remove_share_and_more_text; do
  zs "cmd=$cmd" opt=eth0
  expect_eq "$c: stderr of $cmd" "$err" ""
done
nothing_ran

case_ "text before cmd= and opt= is ignored; further arguments too"
reset_scene
zs xcmd=nfs_share --opt=eth0 extra
expect_file "$c: table" /etc/exports "$(want "$(entry share $ETH; entry HARD_DISK $ETH)
")"

case_ "an option of 300 characters reaches the operation cut to 255"
reset_scene
zs cmd=smb_workgrp "opt=$(printf 'w%.0s' $(seq 300))"
expect_eq "$c: workgroup line" "$(sed -n 2p /etc/samba/lib/smb.conf)" \
  "$(printf '\tworkgroup = '; printf 'w%.0s' $(seq 255))"

finish
