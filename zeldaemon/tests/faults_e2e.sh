#!/bin/sh
# The daemon under faults: no settings file, no firmware folder (so no queue key),
# missing and failing service scripts, and the daemon killed at several points of a
# restart-all. It must neither crash nor stop serving, and once the fault is gone
# the system must be back where a restart-all leaves it.
zel_src=$1
. "$zel_src/testsupport/e2e_lib.sh"
. "$zel_src/testsupport/faults_lib.sh"
settings_file "$ALL_WANTED"
daemon_restart

# --- No settings file: the watchdog cannot read a setting and supervises nothing,
# without a word; the markers still follow the processes. Once the file is back the
# watchdog restarts what is wanted.
zelctl send a
zelctl send p
check "media server and vantle up" "wait_for 'running ms-mips && running client && [ -e /tmp/zel_vantle ]' 20"
daemon_restart
count_sweeps /tmp/zel_vantle > /tmp/sweeps &
watcher=$!
rm /tmp/setting.txt
: > /player/journal
kill $(pidof ms-mips)
check "marker of the dead media server removed at the first sweep" \
  "wait_for '! [ -e /tmp/zel_ms ]' 60 && [ \$(sweeps) -le 1 ]"
check "seven sweeps, the sixth with a watchdog pass" "wait_for '[ \$(sweeps) -ge 7 ]' 400"
check "nothing restarted" "! running ms-mips && ! [ -s /player/journal ]"
expect_no_file "no settings file created" /tmp/setting.txt
check "nothing printed" "! [ -s $log ]"
settings_file "$ALL_WANTED"
check "with the file back, the next watchdog pass (sweep 11) restarts it" \
  "wait_for 'running ms-mips' 400 && [ \$(sweeps) -ge 10 ] && [ \$(sweeps) -le 11 ]"
check "daemon unharmed" "same_daemon && log_clean"
kill $watcher
show_log

# --- No /mnt/oak7210/bin: the queue has no key. The daemon goes on, printing the
# ftok error on each pass; senders fail with status 1 and no queue is created. A
# folder put back (a new one, so a new key) is picked up at once by both sides.
queues=$(ipcs -q | grep -c '^0x')
mv /mnt/oak7210/bin /mnt/oak7210/bin.away
away=/mnt/oak7210/bin.away
n0=$(grep -c '^ftok: ' $log)
$away/zelctl send b 2>/tmp/send.err
check "zelctl send fails with 1" "[ $? = 1 ]"
check "and says why" "grep -qx 'ftok: No such file or directory' /tmp/send.err"
check "daemon prints the ftok error on every pass" \
  "wait_for '[ \$((\$(grep -c \"^ftok: No such file or directory\" $log) - n0)) -ge 10 ]' 60"
check "and runs on" "same_daemon"
check "no queue created" "[ \$(ipcs -q | grep -c '^0x') = $queues ]"
check "media server not stopped" "running ms-mips"
mkdir /mnt/oak7210/bin
cp -a $away/. /mnt/oak7210/bin/
rm -r $away
check "a request goes through again" "zelctl send b && wait_for '! running ms-mips' 10"
n1=$(grep -c '^ftok: ' $log)
sleep 5
check "the errors stop" "[ \$(grep -c '^ftok: ' $log) = $n1 ]"
check "daemon unharmed" "same_daemon && log_clean"
show_log

# --- A missing script and a failing one: the shell's status is ignored, the
# marker shows the real state (stale ones are removed), and the next request runs.
cp /mnt/oak7210/server/nzb /tmp/nzb.script
rm /mnt/oak7210/server/nzb
touch /player/switches/fail-vantle
kill $(pidof nzbget client) 2>/dev/null
wait_for '! running nzbget && ! running client' 5
touch /tmp/zel_nzb /tmp/zel_vantle
zelctl send n
zelctl send p
zelctl send a
check "requests after them served" "wait_for 'running ms-mips' 20"
check "nzbget not started, its stale marker removed" "! running nzbget && ! [ -e /tmp/zel_nzb ]"
check "client not started, its stale marker removed" "! running client && ! [ -e /tmp/zel_vantle ]"
check "the shell said the script is missing" "grep -q 'server/nzb' $log"
check "daemon unharmed" "same_daemon && log_clean"
show_log
mv /tmp/nzb.script /mnt/oak7210/server/nzb
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
  wait_for all_markers 100 && [ $(since $t0) -ge $1 ] && return 0
  echo "     $(since $t0) s after t0; missing:"
  for _m in $markers; do [ -e "$_m" ] || echo "       $_m"; done
  return 1
}
# What every restart-all leaves; the markers come at a sweep at least $2 seconds
# after t0.
restarted_whole() {
  check "$1: restart-all finishes" \
    "wait_for '! [ -e /tmp/reset_zel ]' 400 && wait_for '! pidof reset_zel >/dev/null && grep -q maintenance.html /tmp/lumo_bc 2>/dev/null' 30"
  check "$1: each request served once, in order" \
    "[ \"\$(ordered_journal)\" = \"\$expected\" ] && companion_once"
  any_failed && journal
  check "$1: all processes up" "all_running"
  check "$1: all settings 1" "[ \"\$(for s in \$services; do setting \$s; done | tr -d '\n')\" = 11111111 ]"
  check "$1: flash holds the settings" "flash_holds_settings"
  check "$1: markers back at a timed sweep" "markers_back $2"
  check "$1: one daemon, no report" "[ \$(pidof zeldaemon | wc -w) = 1 ] && log_clean"
  show_log
}

check "all services up" "start_all_services"
settings_file "$ALL_WANTED"

# Gone before the first stop: reset_zel (started as the daemon would, after the
# marker) queues its first stop and waits; the request waits on the queue for the
# next daemon, and the sequence goes on from there.
$init stop >/dev/null
: > /tmp/reset_zel
rm -f /tmp/lumo_bc
: > /player/journal
reset_zel 2>>$log &
rz=$!
check "no daemon: the first stop waits on the queue" \
  "wait_for '[ \"\$(setting btpdserv)\" = 0 ] && [ \$(queued) = 1 ]' 20 && sleep 3 && [ \$(queued) = 1 ] && running btpd"
# The daemon would have run the setup CGI before starting reset_zel.
echo "0 /opt/oakhttpd/default/setups.cgi" > /player/journal
t0=$(now)
daemon_start
restarted_whole "daemon gone before the first stop" 31
wait $rz
check "reset_zel exit status 0" "[ $? = 0 ]"

for point in "smb.sh stop" "nfsserver.sh start" "marker removed"; do
  rm -f /tmp/lumo_bc
  : > /player/journal
  zelctl send r
  if [ "$point" = "marker removed" ]; then
    # Once the daemon has run the last request's lines too.
    wait_for '[ -e /tmp/reset_zel ]' 10 &&
      wait_for '! [ -e /tmp/reset_zel ] && journal | grep -q "clutch start"' 400
  else
    wait_for "journal | grep -q '$point'" 60
  fi
  check "killed at $point" "daemon_kill"
  sleep 2
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
check "setup CGI under way" "wait_for 'journal | grep -q setups.cgi' 10"
check "killed in it" "daemon_kill"
mv /tmp/setups.cgi /opt/oakhttpd/default/setups.cgi
daemon_start
t0=$(now)
check "reset_zel never started, the marker stays" \
  "wait_for '[ \$(since $t0) -ge 40 ]' 80 && ! pidof reset_zel >/dev/null && [ -e /tmp/reset_zel ]"
rm -f /tmp/lumo_bc $markers
: > /player/journal
zelctl send r
restarted_whole "a later r" 0
$init stop >/dev/null
finish
