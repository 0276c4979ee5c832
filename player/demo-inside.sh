#!/bin/bash
# Runs inside the simulated player: shows a restart-all as it happens.
set -u
services=(upnp hlink ftpserv smbserv nfsserv btpdserv nzb vantle)
starts=(a c e g j l n p)
procs=("ms-mips" "msUPnP-mips mDNSrespd-mips" "pure-ftpd" "smbd nmbd" "nfsd mountd" "btpd" "nzbget" "client")
markers=(zel_ms zel_mi zel_ftp zel_smb zel_nfs zel_bt zel_nzb zel_vantle)
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
    if [ -e "/tmp/${markers[$i]}" ]; then m="/tmp/${markers[$i]}"; else m="-"; fi
    printf '  %-9s %-8s %-30s %s\n' "${services[$i]}" "$s" "$r" "$m"
  done
}

# Turns the stand-ins' journal into progress lines as the restart-all goes on.
follow_journal() {
  tail -n 0 -F /player/journal 2>/dev/null | while read -r _ path args; do
    case "$path" in
      /opt/oakhttpd/default/setups.cgi) say "setup CGI runs" ;;
      /mnt/oak7210/bin/reset_zel) say "reset_zel started" ;;
      *) say "daemon runs: ${path#/mnt/oak7210/} $args" ;;
    esac
  done
}

echo "(times in brackets are the player's clock)"
say "player booted; settings recreated from flash:"
zelctl show 2>/dev/null | sed 's/^/    /'
pidof zeldaemon >/dev/null && say "zeldaemon running (pid $(pidof zeldaemon))"

say "bringing up the services whose setting is 1"
for i in "${!services[@]}"; do
  if [ "$(zelctl get "${services[$i]}" 2>/dev/null)" = 1 ]; then
    zelctl send "${starts[$i]}"
  fi
done
for _ in $(seq 60); do
  ok=1
  for i in "${!services[@]}"; do
    [ "$(zelctl get "${services[$i]}" 2>/dev/null)" = 1 ] && ! running "${procs[$i]}" && ok=0
  done
  [ $ok = 1 ] && break
  sleep 1
done
table

: > /player/journal
follow_journal &
follower=$!

say "queueing the restart-all request \"r\""
zelctl send r
for _ in $(seq 20); do [ -e /tmp/reset_zel ] && break; sleep 0.5; done
[ -e /tmp/reset_zel ] && say "reset marker /tmp/reset_zel created: sweeps and watchdog pause"

# reset_zel ends by pointing the browser at the third page.
last=""
for _ in $(seq 1200); do
  [ ! -e /tmp/reset_zel ] && [ -z "${gone:-}" ] && { say "reset marker removed"; gone=1; }
  if [ -e /tmp/lumo_bc ]; then
    page=$(head -n1 /tmp/lumo_bc)
    if [ "$page" != "$last" ]; then say "browser page: $page"; last=$page; fi
    case "$page" in *maintenance.html*) break ;; esac
  fi
  sleep 0.5
done
if cmp -s -n "$(stat -c %s /tmp/setting.txt)" /tmp/setting.txt /dev/mtd1; then
  say "flash commit: /dev/mtd1 holds the settings file ($(stat -c %s /tmp/setting.txt) bytes)"
else
  say "flash commit: /dev/mtd1 differs from the settings file"
fi

say "waiting for the daemon's next timed sweep to refresh the markers"
for _ in $(seq 80); do
  all=1
  for i in "${!services[@]}"; do
    running "${procs[$i]}" && [ ! -e "/tmp/${markers[$i]}" ] && all=0
  done
  [ $all = 1 ] && break
  sleep 1
done
kill "$follower" 2>/dev/null

say "summary"
table

say "stopping the daemon"
if [ -x /etc/init.d/S60zeldaemon ]; then /etc/init.d/S60zeldaemon stop; else kill "$(pidof zeldaemon)"; fi
say "done"
