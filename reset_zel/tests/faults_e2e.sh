#!/bin/sh
# reset_zel under faults, with the real daemon: no settings file, a service script
# that is missing, a service that never comes up, reset_zel killed in the middle.
# Nothing may crash or hang, and what is left behind must be what a restart-all
# leaves in that situation.
set -u
zel_src=$1
# shellcheck source=testsupport/faults_lib.sh
. "$zel_src/testsupport/faults_lib.sh"
daemon_restart

# --- No settings file: every locked operation fails without a word. The services
# are still asked for and come up; nothing is committed and no file is created.
rm -f /tmp/setting.txt
cp /dev/mtd1 /tmp/flash.before
: > /player/journal
check "restart-all without a settings file finishes" -- restart_all 200
expected="$SETUP_CGI
$RESTART_STARTS
$SETUP_CGI"
check "every service asked for, in order" -- journal_is "$expected"
check "all processes up" -- all_running
expect_no_file "no settings file created" /tmp/setting.txt
check "flash untouched (the commit found no file to lock)" -- cmp -s /tmp/flash.before /dev/mtd1
check "nothing printed by reset_zel or the daemon" -- [ ! -s "$log" ]
check "markers at the next timed sweep" -- wait_for 40 -- all_markers
check "daemon unharmed" -- same_daemon
show_log

# --- Started by hand, with the nzb script missing and vantle failing to come up:
# each start waits out its 200 polls, the sequence goes on with the next service,
# the settings say "1" for both and are committed.
settings_file "$ALL_WANTED
wireless=1"
for l in $stop_letters; do zelctl send "$l"; done
check "all services down" -- wait_for 30 -- none_running
cp "$ZEL_SERVER_DIR/nzb" /tmp/nzb.script
rm "$ZEL_SERVER_DIR/nzb"
touch /player/switches/fail-vantle
: > /player/journal
: > /tmp/reset_zel
t0=$(now)
reset_zel > /tmp/reset_zel.out 2>&1 &
rz=$!
check "reset_zel ends, within the description's longest wait" \
  -- wait_for 700 -- not alive "$rz"
wait $rz
check "exit status 0" -- [ $? = 0 ]
check "the two empty waits took their 200 polls each" -- past "$t0" 80
check "reset_zel printed nothing" -- [ ! -s /tmp/reset_zel.out ]
expected="/mnt/oak7210/server/ms start
/mnt/oak7210/server/server start
/mnt/oak7210/etc/ftpserver.sh start
/mnt/oak7210/etc/nfsserver.sh start
/mnt/oak7210/etc/smb.sh restart
/mnt/oak7210/server/vantle start
/mnt/oak7210/etc/btpd.sh
/opt/oakhttpd/default/setups.cgi"
check "the sequence went on past both" -- journal_is "$expected"
any_failed && journal
for s in $services; do
  expect_eq "setting $s is 1" "$(setting "$s")" 1
done
two_down() { ! running nzbget && ! running client && running_all ms-mips btpd smbd; }
check "nzbget and client down, the others up" -- two_down
expect_no_file "reset marker removed" /tmp/reset_zel
check "flash holds the settings" -- flash_holds_settings
two_markers_down() { absent /tmp/zel_nzb /tmp/zel_vantle && present /tmp/zel_ms /tmp/zel_bt; }
check "markers show the two down at the next sweep" -- wait_for 40 -- two_markers_down
complained() { grep -q 'server/nzb' "$log" && log_clean; }
check "the shell's complaint about the missing script, no crash" -- complained
check "daemon unharmed" -- same_daemon
show_log
mv /tmp/nzb.script "$ZEL_SERVER_DIR/nzb"
rm /player/switches/fail-vantle

# --- reset_zel killed in the middle of its stops: the reset marker stays, the daemon
# serves requests but refreshes no marker and restarts nothing; flash keeps the old
# commit. A later "r" puts everything right.
check "all services up" -- start_all_services
check "all markers up" -- wait_for 40 -- all_markers
cp /dev/mtd1 /tmp/flash.before
: > /player/journal
zelctl send r
check "stops under way" -- wait_for 60 -- journal_says "smb.sh stop"
# shellcheck disable=SC2046 # each pid of the name its own argument
kill -KILL $(pidof reset_zel)
check "reset_zel gone" -- wait_for 5 -- not running reset_zel
check "reset marker left behind" -- [ -e /tmp/reset_zel ]
check "settings of the services stopped so far are 0" \
  -- [ "$(setting btpdserv)$(setting hlink)$(setting smbserv)" = 000 ]
check "the others still 1" -- [ "$(setting upnp)$(setting ftpserv)$(setting nzb)" = 111 ]
check "flash not committed" -- cmp -s /tmp/flash.before /dev/mtd1
# upnp stays wanted while its process goes: a watchdog pass would bring it back.
t0=$(now)
zelctl send b
check "requests still served" -- wait_for 10 -- not running ms-mips
# shellcheck disable=SC2086 # the list of marker paths
list_markers() { ls -l --time-style=+%s.%N $markers 2>&1; }
list_markers > /tmp/markers.before
untouched_for_two_sweeps() {
  wait_for 140 -- past "$t0" 70 && list_markers | cmp -s - /tmp/markers.before && ! running ms-mips
}
check "no marker refresh and no watchdog for two sweep intervals" -- untouched_for_two_sweeps
check "so the stale marker of the media server stays" -- [ -e /tmp/zel_ms ]

: > /player/journal
check "a later restart-all finishes" -- restart_all 400
check "all processes up" -- all_running
for s in $services; do
  expect_eq "setting $s is 1" "$(setting "$s")" 1
done
check "flash holds the settings" -- flash_holds_settings
check "markers follow again" -- wait_for 40 -- all_markers
check "no sanitizer report" -- log_clean
check "daemon unharmed" -- same_daemon
show_log
$init stop >/dev/null
finish
