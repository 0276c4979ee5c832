#!/bin/bash
# Runs inside the simulated player: shows a restart-all as it happens.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=player/testlib.sh
. "$here/testlib.sh"
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
kill "$follower" 2>/dev/null

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

say "stopping the daemon"
if [ -x /etc/init.d/S60zeldaemon ]; then /etc/init.d/S60zeldaemon stop; else kill "$(pidof zeldaemon)"; fi
say "done"
finish
