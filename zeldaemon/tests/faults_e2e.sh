#!/bin/sh
# The daemon under faults: no settings file, no firmware folder (so no queue key),
# missing and failing service scripts, and the daemon killed at several points of a
# restart-all. It must neither crash nor stop serving, and once the fault is gone
# the system must be back where a restart-all leaves it.
set -u
zel_src=$1
# shellcheck source=testsupport/faults_lib.sh
. "$zel_src/testsupport/faults_lib.sh"
settings_file "$ALL_WANTED"
daemon_restart

# --- No settings file: the watchdog cannot read a setting and supervises nothing,
# without a word; the markers still follow the processes. Once the file is back the
# watchdog restarts what is wanted.
zelctl send a
zelctl send p
vantle_up() { running_all ms-mips client && [ -e /tmp/zel_vantle ]; }
check "media server and vantle up" -- wait_for 20 -- vantle_up
daemon_restart
count_sweeps /tmp/zel_vantle > /tmp/sweeps &
watcher=$!
rm /tmp/setting.txt
: > /player/journal
# shellcheck disable=SC2046 # each pid of the name its own argument
kill $(pidof ms-mips)
swept() { [ "$(sweeps)" -ge "$1" ]; }
ms_marker_gone_first_sweep() { wait_for 60 -- [ ! -e /tmp/zel_ms ] && [ "$(sweeps)" -le 1 ]; }
check "marker of the dead media server removed at the first sweep" -- ms_marker_gone_first_sweep
check "seven sweeps, the sixth with a watchdog pass" -- wait_for 400 -- swept 7
nothing_restarted() { ! running ms-mips && [ ! -s /player/journal ]; }
check "nothing restarted" -- nothing_restarted
expect_no_file "no settings file created" /tmp/setting.txt
check "nothing printed" -- [ ! -s "$log" ]
settings_file "$ALL_WANTED"
ms_back_at_sweep_11() {
  wait_for 400 -- running ms-mips && [ "$(sweeps)" -ge 10 ] && [ "$(sweeps)" -le 11 ]
}
check "with the file back, the next watchdog pass (sweep 11) restarts it" -- ms_back_at_sweep_11
unharmed() { same_daemon && log_clean; }
check "daemon unharmed" -- unharmed
kill $watcher
show_log

# --- No ZEL_BIN_DIR: the queue has no key. The daemon goes on, printing the
# ftok error on each pass; senders fail with status 1 and no queue is created. A
# folder put back (a new one, so a new key) is picked up at once by both sides.
queues=$(ipcs -q | grep -c '^0x')
mv "$ZEL_BIN_DIR" "$ZEL_BIN_DIR.away"
away="$ZEL_BIN_DIR.away"
n0=$(grep -c '^ftok: ' "$log")
$away/zelctl send b 2>/tmp/send.err
check "zelctl send fails with 1" -- [ $? = 1 ]
check "and says why" -- grep -qx 'ftok: No such file or directory' /tmp/send.err
ftok_errors_since_n0() {
  [ $(($(grep -c "^ftok: No such file or directory" "$log") - n0)) -ge 10 ]
}
check "daemon prints the ftok error on every pass" -- wait_for 60 -- ftok_errors_since_n0
check "and runs on" -- same_daemon
check "no queue created" -- [ "$(ipcs -q | grep -c '^0x')" = "$queues" ]
check "media server not stopped" -- running ms-mips
mkdir "$ZEL_BIN_DIR"
cp -a $away/. "$ZEL_BIN_DIR"/
rm -r $away
request_goes_through() { zelctl send b && wait_for 10 -- not running ms-mips; }
check "a request goes through again" -- request_goes_through
n1=$(grep -c '^ftok: ' "$log")
sleep 5
check "the errors stop" -- [ "$(grep -c '^ftok: ' "$log")" = "$n1" ]
check "daemon unharmed" -- unharmed
show_log

# --- A missing script and a failing one: the shell's status is ignored, the
# marker shows the real state (stale ones are removed), and the next request runs.
cp "$ZEL_SERVER_DIR/nzb" /tmp/nzb.script
rm "$ZEL_SERVER_DIR/nzb"
touch /player/switches/fail-vantle
# shellcheck disable=SC2046 # one pid or none per name, each its own argument
kill $(pidof nzbget client) 2>/dev/null
none_of_nzb() { ! running nzbget && ! running client; }
wait_for 5 -- none_of_nzb
touch /tmp/zel_nzb /tmp/zel_vantle
zelctl send n
zelctl send p
zelctl send a
check "requests after them served" -- wait_for 20 -- running ms-mips
stale_marker_gone() { ! running "$1" && [ ! -e "$2" ]; }
check "nzbget not started, its stale marker removed" -- stale_marker_gone nzbget /tmp/zel_nzb
check "client not started, its stale marker removed" -- stale_marker_gone client /tmp/zel_vantle
check "the shell said the script is missing" -- grep -q 'server/nzb' "$log"
check "daemon unharmed" -- unharmed
show_log
mv /tmp/nzb.script "$ZEL_SERVER_DIR/nzb"
rm /player/switches/fail-vantle

# --- The daemon killed at points of a restart-all. A new daemon takes the requests
# that reset_zel queues from then on; each restart-all ends as a whole one does.
expected="$SETUP_CGI
$RESTART_STOPS
$RESTART_STARTS
$SETUP_CGI"
# The markers all back, at a sweep at least $1 seconds after t0. The daemon times its
# sweeps from its own start, and the boot script returns only once the daemon runs,
# which on a loaded machine is some player seconds later: t0 is taken before the
# boot script starts the daemon.
markers_back() {
  wait_for 100 -- all_markers && [ "$(since "$t0")" -ge "$1" ] && return 0
  echo "     $(since "$t0") s after t0; missing:"
  for _m in $markers; do [ -e "$_m" ] || echo "       $_m"; done
  return 1
}
# What every restart-all leaves; the markers come at a sweep at least $2 seconds
# after t0.
restarted_whole() {
  check "$1: restart-all finishes" -- restart_all_ends
  check "$1: each request served once, in order" -- journal_is "$expected"
  any_failed && journal
  check "$1: all processes up" -- all_running
  check "$1: all settings 1" -- all_settings_1
  check "$1: flash holds the settings" -- flash_holds_settings
  check "$1: markers back at a timed sweep" -- markers_back "$2"
  check "$1: one daemon, no report" -- one_clean_daemon
  show_log
}
restart_all_ends() { wait_for 400 -- [ ! -e /tmp/reset_zel ] && wait_for 30 -- browser_steered; }
all_settings_1() { [ "$(for s in $services; do setting "$s"; done | tr -d '\n')" = 11111111 ]; }
one_clean_daemon() { [ "$(pidof zeldaemon | wc -w)" = 1 ] && log_clean; }

check "all services up" -- start_all_services
settings_file "$ALL_WANTED"

# Gone before the first stop: reset_zel (started as the daemon would, after the
# marker) queues its first stop and waits; the request waits on the queue for the
# next daemon, and the sequence goes on from there.
$init stop >/dev/null
: > /tmp/reset_zel
rm -f /tmp/lumo_bc
: > /player/journal
reset_zel 2>>"$log" &
rz=$!
first_stop_queued() { [ "$(setting btpdserv)" = 0 ] && [ "$(queued)" = 1 ]; }
first_stop_waits() { wait_for 20 -- first_stop_queued && sleep 3 && [ "$(queued)" = 1 ] && running btpd; }
check "no daemon: the first stop waits on the queue" -- first_stop_waits
# The daemon would have run the setup CGI before starting reset_zel.
echo "0 /opt/oakhttpd/default/setups.cgi" > /player/journal
t0=$(now)
daemon_start
restarted_whole "daemon gone before the first stop" 31
wait $rz
check "reset_zel exit status 0" -- [ $? = 0 ]

last_request_run() { [ ! -e /tmp/reset_zel ] && journal_says "clutch start"; }
for point in "smb.sh stop" "nfsserver.sh start" "marker removed"; do
  rm -f /tmp/lumo_bc
  : > /player/journal
  zelctl send r
  if [ "$point" = "marker removed" ]; then
    # Once the daemon has run the last request's lines too.
    wait_for 10 -- [ -e /tmp/reset_zel ] &&
      wait_for 400 -- last_request_run
  else
    wait_for 60 -- journal_says "$point"
  fi
  check "killed at $point" -- daemon_kill
  sleep 2
  # shellcheck disable=SC2086 # the list of marker paths
  rm -f $markers
  t0=$(now)
  daemon_start
  restarted_whole "killed at $point" 31
done

# Killed after it created the reset marker, while the setup CGI runs: reset_zel
# never starts and the marker stays. A new daemon serves but refreshes nothing
# until a later "r" runs a whole restart-all.
cp /opt/oakhttpd/default/setups.cgi /tmp/setups.cgi
printf '#!/bin/sh\necho "$(date +%%s.%%N) $0" >> /player/journal\nsleep 5\n' > /opt/oakhttpd/default/setups.cgi
: > /player/journal
zelctl send r
check "setup CGI under way" -- wait_for 10 -- journal_says setups.cgi
check "killed in it" -- daemon_kill
mv /tmp/setups.cgi /opt/oakhttpd/default/setups.cgi
daemon_start
t0=$(now)
reset_zel_never_started() {
  wait_for 80 -- past "$t0" 40 && ! pidof reset_zel >/dev/null && [ -e /tmp/reset_zel ]
}
check "reset_zel never started, the marker stays" -- reset_zel_never_started
# shellcheck disable=SC2086 # the list of marker paths
rm -f /tmp/lumo_bc $markers
: > /player/journal
zelctl send r
restarted_whole "a later r" 0
$init stop >/dev/null
finish
