#!/bin/sh
# The boot script, and a daemon killed in the middle of a restart-all: the reset
# marker stays behind, and a new daemon serves requests but refreshes nothing until
# the marker is removed.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
init=/etc/init.d/S60zeldaemon
settings_file "$NONE_WANTED"

one_daemon() { [ "$(pidof zeldaemon | wc -w)" -eq 1 ]; }
init_says() { $init "$1" >/dev/null; }
check "boot started one daemon" -- one_daemon
check "status says running" -- init_says status
pid=$(pidof zeldaemon)
start_keeps_it() { init_says start && [ "$(pidof zeldaemon)" = "$pid" ]; }
restart_renews_it() { init_says restart && one_daemon && [ "$(pidof zeldaemon)" != "$pid" ]; }
check "start again keeps the one daemon" -- start_keeps_it
check "restart gives a new one" -- restart_renews_it

# Hold reset_zel in its starts: the FTP server comes up only after 30 s.
echo 30 > /player/switches/delay-ftpserver.sh
: > /player/journal
zelctl send r
check "restart-all under way" -- wait_for 30 -- journal_says "ftpserver.sh start"
stop_ends_it() { init_says stop && ! pidof zeldaemon >/dev/null; }
check "stop returns with the daemon gone" -- stop_ends_it
check "status says stopped" -- not init_says status
# shellcheck disable=SC2046 # each pid of the name its own argument
kill $(pidof reset_zel)
check "reset marker stays" -- [ -e /tmp/reset_zel ]

# shellcheck disable=SC2086 # the list of marker paths
rm -f $markers
t0=$(now)
$init start >/dev/null
: > /player/journal
zelctl send b
check "new daemon serves requests" -- wait_for 10 -- journal_says "ms stop"
# shellcheck disable=SC2086 # the list of marker paths
no_marker_for_a_sweep() { wait_for 60 -- past "$t0" 40 && ! ls $markers >/dev/null 2>&1; }
check "but refreshes no marker for more than a sweep" -- no_marker_for_a_sweep
rm /tmp/reset_zel
markers_follow() { [ -e /tmp/zel_mi ] && [ ! -e /tmp/zel_ms ]; }
check "markers come once the reset marker is gone" -- wait_for 5 -- markers_follow
$init stop >/dev/null
finish
