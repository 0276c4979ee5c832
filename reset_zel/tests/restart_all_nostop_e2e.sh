#!/bin/sh
# Restart-all while one service does not stop: its stop gives up after its polls,
# its start then finds it running and does nothing, and its setting stays "0".
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
settings_file "$ALL_WANTED"
check "all services up" -- start_all_services
touch /player/switches/nostop-nzb
: > /player/journal
t0=$(now)
check "restart-all finishes" -- restart_all
t1=$(now)
stop_alone() { journal | grep -qx '/mnt/oak7210/server/nzb stop' && ! journal_says 'nzb start'; }
check "nzb stop asked, no nzb start" -- stop_alone
check "the stop waited its 200 polls (40 s)" -- [ $((t1 - t0)) -ge 40 ]
check "nzbget still running" -- running nzbget
check "setting nzb stays 0" -- [ "$(setting nzb)" = 0 ]
check "the others restarted" -- [ "$(journal | grep -c ' start$\| restart$\|btpd.sh$')" -eq 8 ]
for s in upnp hlink ftpserv smbserv nfsserv btpdserv vantle; do
  expect_eq "setting $s is 1" "$(setting $s)" 1
done
check "reset marker removed only once the last start was up" -- marker_went_after_last_start
finish
