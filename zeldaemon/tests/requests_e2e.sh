#!/bin/sh
# The real zeldaemon on the simulated player (clock ten times faster): requests
# sent with zelctl run their scripts, in order, a pass apart.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
journal_has() { grep -q -- "$1\$" /player/journal; }

check "daemon running" -- running zeldaemon

zelctl send a
check "a starts the media server" -- wait_for 10 -- journal_has "/mnt/oak7210/server/ms start"
check "media server process up" -- wait_for 10 -- running ms-mips

: > /player/journal
zelctl send c
zelctl send b
check "c then b served" -- wait_for 10 -- journal_has "/mnt/oak7210/server/ms stop"
first=$(grep -n 'server/server start' /player/journal | cut -d: -f1)
second=$(grep -n 'server/ms stop' /player/journal | cut -d: -f1)
check "in the order sent" -- [ "$first" -lt "$second" ]
t1=$(grep 'server/server start' /player/journal | cut -d' ' -f1 | cut -d. -f1)
t2=$(grep 'server/ms stop' /player/journal | cut -d' ' -f1 | cut -d. -f1)
check "at least a second apart" -- [ $((t2 - t1)) -ge 1 ]

: > /player/journal
zelctl send s
zelctl send A
zelctl send n
check "n served after s and A" -- wait_for 10 -- journal_has "/mnt/oak7210/server/nzb start"
check "s and A run nothing" -- [ "$(wc -l < /player/journal)" -eq 1 ]

# This checks the daemon's side of the hand-over: a recording stand-in takes the
# place of the real reset_zel, which would remove the marker when done.
printf '#!/bin/sh\necho "$(${ZP_DATE:-date} +%%s.%%N) $0" >> /player/journal\n' > "$ZEL_BIN_DIR/reset_zel"
: > /player/journal
rm -f /tmp/reset_zel
zelctl send r
check "r runs the setup CGI" -- wait_for 10 -- journal_has /opt/oakhttpd/default/setups.cgi
check "then starts reset_zel" -- wait_for 10 -- grep -q "$ZEL_BIN_DIR/reset_zel" /player/journal
empty_marker() { [ -f /tmp/reset_zel ] && [ ! -s /tmp/reset_zel ]; }
check "reset marker created" -- empty_marker
cgi=$(grep -n setups.cgi /player/journal | head -n1 | cut -d: -f1)
rz=$(grep -n "$ZEL_BIN_DIR/reset_zel" /player/journal | head -n1 | cut -d: -f1)
check "setup CGI before reset_zel" -- [ "$cgi" -lt "$rz" ]

check "daemon still serving" -- running zeldaemon
finish
