#!/bin/bash
# Runs inside the simulated player: shows a restart-all as it happens and, over real
# servers (--services real), what their clients answer. $1: the source folder.
set -u
here=$(cd "$(dirname "$0")" && pwd)
zel_src=${1:-$(dirname "$here")}
real=""
[ "${ZP_SERVICES:-standin}" = real ] && real=1
# shellcheck source=testsupport/testlib.sh
. "$zel_src/testsupport/testlib.sh"
. /player/bin/service_table.sh
: "${processes?}" "${service_rows?}"
. /player/bin/zel_paths.sh
# The rows of the service table: setting, start letter, processes, marker.
services=() starts=() procs=() markers=()
while read -r _ key start _ marker p; do
  services+=("$key") starts+=("$start") procs+=("$p") markers+=("$marker")
done <<< "$service_rows"
t0=$(date +%s)

say() { printf '[%4ss] %s\n' "$(( $(date +%s) - t0 ))" "$*"; }
running() { local p; for p in $1; do pidof "$p" >/dev/null 2>&1 || return 1; done; }

table() {
  printf '  %-9s %-8s %-30s %s\n' service setting processes marker
  local i
  for i in "${!services[@]}"; do
    local s m r
    s=$(zelctl get "${services[$i]}" 2>/dev/null || echo "-")
    if running "${procs[$i]}"; then r="running (${procs[$i]})"; else r="stopped"; fi
    if [ -e "${markers[$i]}" ]; then m="${markers[$i]}"; else m="-"; fi
    printf '  %-9s %-8s %-30s %s\n' "${services[$i]}" "$s" "$r" "$m"
  done
}

# Real servers going down and coming up, as the restart-all goes on.
follow_processes() {
  local p pid
  declare -A was
  for p in $processes; do was[$p]=$(pidof "$p"); done
  while :; do
    for p in $processes; do
      pid=$(pidof "$p")
      if [ -z "$pid" ] && [ -n "${was[$p]}" ]; then
        say "  $p down"
      elif [ -n "$pid" ] && [ -z "${was[$p]}" ]; then
        say "  $p up (pid ${pid%% *})"
      fi
      was[$p]=$pid
    done
    sleep 0.5
  done
}

# Turns the stand-ins' journal into progress lines as the restart-all goes on.
follow_journal() {
  tail -n 0 -F /player/journal 2>/dev/null | while read -r _ path args; do
    case "$path" in
      "$ZEL_SETUP_CGI") say "setup CGI runs" ;;
      "$ZEL_BIN_DIR/reset_zel") say "reset_zel started" ;;
      *) say "daemon runs: ${path#"${ZEL_BIN_DIR%/*}"/} $args" ;;
    esac
  done
}

echo "(times in brackets are the player's clock)"
say "player booted; settings recreated from flash:"
zelctl show 2>/dev/null | sed 's/^/    /'
pidof zeldaemon >/dev/null && say "zeldaemon running (pid $(pidof zeldaemon))"

if [ -n "$real" ]; then
  # shellcheck source=services/tests/clients.sh
  . "$zel_src/services/tests/clients.sh"
  say "the shares, as the settings pages write them: workgroup MEDIAGRP, NFS to eth0's"
  say "network, passwords of the Samba account zel and the FTP account ftpuser"
  # Only zel_services' own complaints: the tools it runs are talkative.
  zs() { zel_services "$@" 2>&1 | grep '^\[zel_services\]' | sed 's/^/    /'; }
  zs cmd=smb_workgrp opt=MEDIAGRP
  zs cmd=nfs_share opt=eth0
  printf 'demo-pw\ndemo-pw\n' | zs cmd=ftp_passwd opt=ftpuser
  zelctl set smb_passwd=demo-pw
  echo "a file on the player" > /share/hello.txt
fi

say "bringing up the services whose setting is 1"
for i in "${!services[@]}"; do
  if [ "$(zelctl get "${services[$i]}" 2>/dev/null)" = 1 ]; then
    zelctl send "${starts[$i]}"
  fi
done
wanted_up() {
  local i
  for i in "${!services[@]}"; do
    [ "$(zelctl get "${services[$i]}" 2>/dev/null)" = 1 ] && ! running "${procs[$i]}" && return 1
  done
  return 0
}
wait_for 60 -- wanted_up
table

: > /player/journal
follow_journal &
follower=$!
watcher=""
if [ -n "$real" ]; then follow_processes & watcher=$!; fi

say "queueing the restart-all request \"$RESET_LETTER\""
zelctl send "$RESET_LETTER"
wait_for 10 -- [ -e "$RESET_MARKER" ] && say "reset marker $RESET_MARKER created: sweeps and watchdog pause"

# reset_zel ends by pointing the browser at the third page.
last="" gone=""
follow_pages() {
  [ ! -e "$RESET_MARKER" ] && [ -z "$gone" ] && { say "reset marker removed"; gone=1; }
  [ -e /tmp/lumo_bc ] || return 1
  page=$(head -n1 /tmp/lumo_bc)
  if [ "$page" != "$last" ]; then say "browser page: $page"; last=$page; fi
  case "$page" in *maintenance.html*) return 0 ;; esac
  return 1
}
wait_for 600 -- follow_pages
flash_holds_settings() { cmp -s -n "$(stat -c %s /tmp/setting.txt)" /tmp/setting.txt /dev/mtd1; }
if flash_holds_settings; then
  say "flash commit: /dev/mtd1 holds the settings file ($(stat -c %s /tmp/setting.txt) bytes)"
else
  say "flash commit: /dev/mtd1 differs from the settings file"
fi

say "waiting for the daemon's next timed sweep to refresh the markers"
markers_follow() {
  local i
  for i in "${!services[@]}"; do
    running "${procs[$i]}" && [ ! -e "${markers[$i]}" ] && return 1
  done
  return 0
}
wait_for 80 -- markers_follow
kill "$follower" $watcher 2>/dev/null

say "summary"
table

say "checks"
all_up() { local p; for p in $processes; do running "$p" || return 1; done; }
check "every service running again" -- all_up
for i in "${!services[@]}"; do
  expect_eq "setting ${services[$i]} is 1" "$(zelctl get "${services[$i]}" 2>/dev/null)" 1
done
check "the flash holds the settings" -- flash_holds_settings
check "every marker follows its processes" -- markers_follow
expect_eq "the browser on the maintenance page" "$last" "file:///opt/oakhttpd/default/maintenance.html::"

if [ -n "$real" ]; then
  say "what real clients on the player's network ($ADDR) answer"
  shares() { smbclient -L "$ADDR" -N -g 2>/dev/null | awk -F'|' '$1 == "Disk" { printf "%s ", $2 }'; }
  workgroup() { nmblookup -A "$ADDR" 2>/dev/null | awk '/<00> - <GROUP>/ { print $1; exit }'; }
  ftp_login() { curl -s -m 20 -u ftpuser:demo-pw --list-only "ftp://$ADDR/" | grep -vx '\.\.\?' | tr '\n' ' '; }
  nfs_listing() { nfs-ls "nfs://$ADDR/share" 2>/dev/null | awk '{ printf "%s ", $NF }'; }
  answer() {
    local what=$1 got
    shift
    got=$("$@" 2>/dev/null)
    printf '    %-34s %s\n' "$what" "${got:-(no answer)}"
    expect_eq "$what answered" "$([ -n "$got" ] && echo yes)" yes >/dev/null
  }
  answer "Samba shares (smbclient -L):" shares
  answer "Samba workgroup (nmblookup -A):" workgroup
  answer "FTP login as ftpuser, listing:" ftp_login
  answer "NFS listing of /share (nfs-ls):" nfs_listing
  answer "media server (SSDP M-SEARCH):" client_upnp
  answer "mDNS ($(hostname).local):" client_hlink
  answer "BitTorrent RPC (session-get):" client_btpd
  answer "Usenet JSON-RPC (version):" client_nzb
fi

say "stopping the daemon"
if [ -x /etc/init.d/S60zeldaemon ]; then /etc/init.d/S60zeldaemon stop; else kill "$(pidof zeldaemon)"; fi
say "done"
finish
