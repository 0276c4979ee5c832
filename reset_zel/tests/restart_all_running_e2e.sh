#!/bin/sh
# Restart-all with every service running: all are stopped in the fixed order, then
# started; while the reset marker exists no marker is touched.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
settings_file "$ALL_WANTED"
check "all services up" -- start_all_services
check "all markers up" -- wait_for 10 -- all_markers
: > /player/journal

# Watch the markers for as long as the reset marker exists: the services go down and
# come back meanwhile, so any refresh would remove or rewrite a marker. The daemon
# refreshes nothing in the pass that creates the reset marker either.
(
  while ! [ -e /tmp/reset_zel ]; do sleep 0.05; done
  # shellcheck disable=SC2086 # the list of marker paths
  before=$(stat -c "%n %y" $markers 2>&1)
  while :; do
    # shellcheck disable=SC2086 # the list of marker paths
    now_markers=$(stat -c "%n %y" $markers 2>&1)
    [ -e /tmp/reset_zel ] || break
    [ "$now_markers" = "$before" ] || { echo "marker changed during the reset:"; echo "$now_markers"; }
    sleep 0.05
  done
) > /tmp/marker_watch &
watcher=$!

check "restart-all finishes" -- restart_all
wait $watcher
check "no marker refreshed while the reset marker existed" -- [ ! -s /tmp/marker_watch ]
cat /tmp/marker_watch

expected="$SETUP_CGI
$RESTART_STOPS
$RESTART_STARTS
$SETUP_CGI"
check "stops m d h k q b f o, then starts a c e j g n p l, and no watchdog line" -- journal_is "$expected"
any_failed && journal
check "all processes up again" -- all_running
for s in $services; do
  expect_eq "setting $s is 1" "$(setting "$s")" 1
done
finish
