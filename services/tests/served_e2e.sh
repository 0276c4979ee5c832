#!/bin/bash
# What zel_services writes, served by Debian's servers through the scripts of
# services/ and checked by real clients (smbclient, nmblookup, curl, nfs-ls).
# Player: --services real, eth0 10.9.0.2/24, wlan0 10.8.0.2/24 (outside eth0's network).
set -u
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
# The firmware's paths, exported from zelmsg/include/zel_paths.h.
. /player/bin/zel_paths.sh
ETC=$ZEL_ETC_DIR
ADDR=10.9.0.2
OUTSIDE=10.8.0.2

# zs ARGS...: zel_services, its own message lines in $said.
zs() {
  said=$(zel_services "$@" 2>&1 >/dev/null | grep -F '[zel_services]')
}
now() { date +%s%N; }
ms_since() { echo $((($(now) - $1) / 1000000)); }
rss_kb() {
  local p sum=0
  for p in $(pidof "$@"); do sum=$((sum + $(awk '/^VmRSS/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0))); done
  echo "$sum"
}
measure() { echo "measure: $*"; }

smb_list() { smbclient -L "$1" -N -g 2>/dev/null | awk -F'|' '$1 == "Disk" { print $2 }'; }
# The first line of the share's f.txt; nothing when the connection fails.
smb_get() {
  local out
  out=$(smbclient "//$ADDR/$1" -U "zel%$2" -c 'get f.txt /dev/stdout' 2>/dev/null) && printf '%s\n' "$out" | head -n 1
}
workgroup_shown() { nmblookup -A "$ADDR" 2>/dev/null | grep -F '<00> - <GROUP>' | sed 's/ *<00>.*//; s/^[[:space:]]*//'; }
shows_workgroup() { [ "$(workgroup_shown)" = "$1" ]; }
banner() { timeout 1 bash -c "exec 3<>/dev/tcp/$ADDR/21 && head -c 3 <&3" 2>/dev/null; }
ftp_login() { curl -sS --max-time 30 -u "ftpuser:$1" "ftp://$ADDR/" -o /dev/null 2>/dev/null; }
nfs_read() { nfs-cat "nfs://$1/$2/f.txt" 2>/dev/null; }
answers_mount() { rpcinfo -T tcp 127.0.0.1 100005 3 >/dev/null 2>&1; }
gone() { ! pidof "$@" >/dev/null 2>&1; }
# Conditions of the checks, one function each (checks take a command, not a string).
smb_lists() { smb_list "$ADDR" | grep -qxF "$1"; }
banner_is() { [ "$(banner)" = "$1" ]; }
nfs_lists() { nfs-ls "nfs://$1/$2" 2>/dev/null | grep -q "$3\$"; }
nfs_answers() { nfs-ls "nfs://$1/$2" >/dev/null 2>&1; }
nfs_reads() { [ "$(nfs_read "$1" "$2")" = "$3" ]; }
# smbd forks one process per connection: the listening one is the oldest.
smbd_main() { pgrep -o -x smbd; }

# Names the rule accepts, each served at its own folder: blanks, quotes, "#", ";",
# "=", UTF-8 in several scripts, shell and Samba characters with no meaning to the
# servers. A name ending in "$" is listed by smbclient; Windows hides such shares.
accepted=("My Disk" "q'x" "a#b" "s;c" "e=q" "Grüße" "Дача" "音楽" "x&y" "a*b" "a?b" "~u" "a\`b" "d\$" "(p),{c}")
L1=$(printf 'l\351')
# Names that would be served as another folder, break the listing, or expand: the
# rule refuses them. With the first of each row already shared where it has one.
refused=("ü|Ü" "é|É" "д|Д" "|$L1" "|%U" "|a%Sb" "|x\\y")

case_ "Samba: start, the share listed, the workgroup announced"
# The export table first: nfs_share rebuilds it from the root's disks, add_share
# below adds to it.
zs cmd=nfs_share opt=eth0
zelctl set smb_passwd=pw1 >/dev/null
zs cmd=smb_workgrp opt=MEDIAGRP
t0=$(now)
"$ETC/smb.sh" restart 2>/dev/null
wait_for 10 -- smb_lists share
measure "smb listing $(ms_since "$t0") ms after the start line"
check "$c: share listed" -- smb_lists share
check "$c: workgroup announced" -- wait_for 15 -- shows_workgroup MEDIAGRP
measure "nmblookup workgroup $(ms_since "$t0") ms after the start line"
measure "smbd+nmbd at rest $(rss_kb smbd nmbd) kB, with helpers $(rss_kb smbd nmbd samba-dcerpcd rpcd_classic rpcd_winreg) kB"
echo hello > /share/f.txt
expect_eq "$c: share read with the password of the setting" "$(smb_get share pw1)" hello
smbd_pid=$(smbd_main)

case_ "add_share: every accepted name listed and read from its own folder"
list=""
for n in "${accepted[@]}"; do
  mkdir -p "/$n"
  echo "in $n" > "/$n/f.txt"
  list="$list${list:+|#}$n"
done
zs cmd=add_share "opt=$list"
expect_eq "$c: no message" "$said" ""
listed=$(smb_list $ADDR)
for n in "${accepted[@]}"; do
  check "$c: [$n] listed" -- grep -qxF "$n" <<< "$listed"
  expect_eq "$c: [$n] read" "$(smb_get "$n" pw1)" "in $n"
done
expect_eq "$c: no restart" "$(smbd_main)" "$smbd_pid"

case_ "refused names: the message, the share each would take over still its own"
for row in "${refused[@]}"; do
  first=${row%%|*} name=${row#*|}
  if [ -n "$first" ]; then
    mkdir -p "/$first" && echo "in $first" > "/$first/f.txt"
    zs cmd=add_share "opt=$first"
    expect_eq "$c: [$first] taken" "$said" ""
  fi
  mkdir -p "/$name" && echo "in $name" > "/$name/f.txt"
  zs cmd=add_share "opt=$name"
  expect_eq "$c: [$name] refused" "$said" "[zel_services] Invalid share name!"
  [ -z "$first" ] || expect_eq "$c: [$first] still serves its folder" "$(smb_get "$first" pw1)" "in $first"
done
check "$c: the listing still served" -- smb_lists share

case_ "remove_share: gone from the next listing, no restart"
zs cmd=remove_share "opt=x&y"
check "$c: [x&y] not listed" -- not smb_lists 'x&y'
check "$c: [q'x] still listed" -- smb_lists "q'x"
expect_eq "$c: no restart" "$(smbd_main)" "$smbd_pid"

case_ "smb.sh passwd: the setting's new password at the next connection"
zelctl set smb_passwd=pw2 >/dev/null
"$ETC/smb.sh" passwd 2>/dev/null
expect_eq "$c: new password" "$(smb_get share pw2)" hello
expect_eq "$c: old password refused" "$(smb_get share pw1)" ""
zelctl unset smb_passwd >/dev/null
"$ETC/smb.sh" passwd 2>/dev/null
expect_eq "$c: no setting, no login" "$(smb_get share pw2)" ""

case_ "smb_workgrp: what nmbd announces"
# Samba upper-cases a workgroup and expands no "%" in it.
for row in "home group|HOME GROUP" "%m|%M"; do
  zs cmd=smb_workgrp "opt=${row%%|*}"
  "$ETC/smb.sh" restart 2>/dev/null
  check "$c: [${row%%|*}] announced as [${row#*|}]" -- wait_for 15 -- shows_workgroup "${row#*|}"
done
for w in "Gr$(printf '\374')" "*"; do
  zs cmd=smb_workgrp "opt=$w"
  expect_eq "$c: [$w] refused" "$said" "[zel_services] Invalid workgroup name!"
done
check "$c: the configuration keeps the last" -- grep -q '^	workgroup = %M$' /etc/samba/lib/smb.conf

case_ "smb.sh stop: back once every Samba process is gone"
"$ETC/smb.sh" stop 2>/dev/null
check "$c: none left" -- gone smbd nmbd samba-dcerpcd rpcd_classic rpcd_winreg

case_ "ftp_passwd: the next login takes the new password, refuses the old"
printf 'pw1\npw1\n' | zel_services cmd=ftp_passwd opt=ftpuser >/dev/null 2>&1
t0=$(now)
"$ETC/ftpserver.sh" start 2>/dev/null &
check "$c: banner" -- wait_for 10 -- banner_is 220
measure "pure-ftpd banner $(ms_since "$t0") ms after the start line, $(rss_kb pure-ftpd) kB"
echo up > /tmp/up.txt
t0=$(now)
check "$c: upload with the first password" -- curl -sS --max-time 30 -u ftpuser:pw1 -T /tmp/up.txt "ftp://$ADDR/up.txt"
measure "one FTP login and upload $(ms_since "$t0") ms"
expect_eq "$c: upload owned by 1001" "$(stat -c %u:%g /share/up.txt 2>&1)" 1001:1001
printf 'pw2\npw2\n' | zel_services cmd=ftp_passwd opt=ftpuser >/dev/null 2>&1
check "$c: new password taken" -- ftp_login pw2
check "$c: old password refused" -- not ftp_login pw1
"$ETC/ftpserver.sh" stop
check "$c: stop leaves no pure-ftpd" -- gone pure-ftpd

case_ "nfs_share: exported to eth0's network, read there, refused from outside"
t0=$(now)
"$ETC/nfsserver.sh" start 2>/dev/null
check "$c: MOUNT answers once the start line returns" -- answers_mount
expect_eq "$c: /share read" "$(nfs_read $ADDR share)" hello
measure "NFS read $(ms_since "$t0") ms after the start line; nfsd $(rss_kb nfsd) kB, mountd (rpcbind) $(rss_kb mountd) kB"
check "$c: /share listed" -- nfs_lists "$ADDR" share f.txt
check "$c: answers on $ADDR" -- nfs_answers "$ADDR" share
check "$c: refused from $OUTSIDE" -- not nfs_answers "$OUTSIDE" share
check "$c: [x&y] removed, refused" -- not nfs_answers "$ADDR" 'x&y'
for n in "${accepted[@]}"; do
  [ "$n" = "x&y" ] && continue
  expect_eq "$c: [$n] read" "$(nfs_read $ADDR "$n")" "in $n"
done
mkdir -p /Late && echo "in Late" > /Late/f.txt
# zel_services's "exportfs -r" reloads the running server.
zs cmd=add_share opt=Late
check "$c: a share added while running served" -- wait_for 5 -- nfs_reads "$ADDR" Late "in Late"
zs cmd=remove_share opt=Late
check "$c: a share removed while running refused" -- wait_for 5 -- nfs_reads "$ADDR" Late ""
"$ETC/nfsserver.sh" stop
check "$c: stop leaves neither nfsd nor mountd" -- gone nfsd mountd

# Root clients (rpcinfo, nfs-ls, the servers' own calls to rpcbind) take source ports
# from 600-1023 first and leave them in TIME_WAIT for a minute: no server may need a
# fixed port there (ganesha's rquota on 875 ended at its start).
case_ "nfsserv: starts while root clients' ports 600-1023 wait out TIME_WAIT"
n=$(python3 "$(dirname "$0")/netprobe.py" timewait 127.0.0.1 600 1023)
check "$c: most of them taken ($n)" -- [ "${n:-0}" -ge 400 ]
"$ETC/nfsserver.sh" start 2>/dev/null
check "$c: MOUNT answers" -- answers_mount
check "$c: /share read" -- nfs_reads "$ADDR" share hello
"$ETC/nfsserver.sh" stop

finish
