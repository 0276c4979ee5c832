# shellcheck shell=sh
# Helpers for the fault scripts, on top of e2e_lib.sh (sourced here: a script sets
# zel_src, then sources this file alone). The boot script sends the daemon's
# standard error (and so reset_zel's, which the daemon starts) wherever the
# boot's own output goes; these scripts restart the daemon with it in a log file, so
# that the sanitizers' reports and the programs' error lines can be read back.
# shellcheck source=testsupport/e2e_lib.sh
. "${zel_src:?}/testsupport/e2e_lib.sh"

init=/etc/init.d/S60zeldaemon
log=/tmp/zeldaemon.err

# Starts a daemon through the boot script, its standard error appended to the log.
daemon_start() {
  $init start >/dev/null 2>>"$log"
  wait_for 10 -- running zeldaemon
  dpid=$(pidof zeldaemon)
}
daemon_restart() {
  $init stop >/dev/null
  daemon_start
}
# The daemon started last is still the one running: it has neither died nor been
# replaced.
same_daemon() { [ "$(pidof zeldaemon)" = "$dpid" ]; }
# kill -9 of the daemon, as a crash or an out-of-memory kill would end it.
daemon_kill() {
  kill -KILL "$dpid"
  wait_for 10 -- not running zeldaemon
}

# No sanitizer report and no crash line in what the programs printed.
log_clean() { ! grep -q 'Sanitizer\|runtime error\|Segmentation\|Aborted' "$log"; }
# Prints the log when a check failed, for the test's output.
show_log() { if any_failed; then echo "--- daemon log"; cat "$log"; echo "---"; fi; }

# The flash image holds exactly the settings file's bytes, then the text's end.
flash_holds_settings() {
  _size=$(stat -c %s /tmp/setting.txt) &&
    cmp -s -n "$_size" /tmp/setting.txt /dev/mtd1
}

# Counts timed sweeps into a file, one line each: every sweep rewrites the marker of a
# running service, so each change of its time stamp is one sweep. Requests of that
# service's group would count too; send none while counting.
count_sweeps() {
  _last=$(stat -c %y "$1" 2>/dev/null)
  while :; do
    _m=$(stat -c %y "$1" 2>/dev/null)
    [ "$_m" != "$_last" ] && { echo "$_m"; _last=$_m; }
    sleep 0.2
  done
}
sweeps() { wc -l < /tmp/sweeps; }
