#!/bin/sh
# Restart-all with no service running: reset_zel starts all eight through the daemon,
# commits, steers the browser; the markers follow at the next timed sweep.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
settings_file "$NONE_WANTED
wireless=1"
only_daemon() { running zeldaemon && none_running; }
check "daemon running, nothing else" -- only_daemon
: > /player/journal
rm -f /tmp/lumo_bc

check "restart-all finishes" -- restart_all

expected="$SETUP_CGI
$RESTART_STARTS
$SETUP_CGI"
check "requests a c e j g n p l taken in this order, then the setup CGI" -- journal_is "$expected"
any_failed && journal
check "all processes up" -- all_running
for s in $services; do
  expect_eq "setting $s is 1" "$(setting "$s")" 1
done
check "other settings kept" -- [ "$(setting wireless)" = 1 ]
check "reset marker removed only once the last start was up" -- marker_went_after_last_start
size=$(stat -c %s /tmp/setting.txt)
check "flash holds the settings file" -- cmp -s -n "$size" /tmp/setting.txt /dev/mtd1
byte_after_text() { dd if=/dev/mtd1 bs=1 skip="$size" count=1 2>/dev/null | od -An -tx1 | tr -d ' '; }
check "flash image ends the text" -- [ "$(byte_after_text)" = 00 ]
printf 'file:///opt/oakhttpd/default/maintenance.html::\n\n' > /tmp/want_lumo_bc
expect_file "browser on the maintenance page" /tmp/lumo_bc /tmp/want_lumo_bc
any_failed && od -c /tmp/lumo_bc
check "markers refreshed at the next timed sweep" -- wait_for 35 -- all_markers
finish
