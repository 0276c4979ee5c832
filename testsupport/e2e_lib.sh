# shellcheck shell=sh
# Domain helpers for the end-to-end scripts that run inside the simulated player, on
# top of the shared vocabulary (check, expect_eq, wait_for, finish, ...) and the
# service table the build printed from service_table/service_table.h. Every wait is in the
# player's clock, which runs faster than real time. A script sets zel_src to the
# source folder, then sources this file.
# shellcheck source=testsupport/testlib.sh
. "${zel_src:?}/testsupport/testlib.sh"
. /player/bin/service_table.sh
# The firmware's paths, exported from zelmsg/include/zel_paths.h.
. /player/bin/zel_paths.sh
# The table's lists that the scripts use: a table without one stops them here.
: "${services?}" "${processes?}" "${markers?}" "${start_letters?}" "${stop_letters?}" "${service_rows?}"
: "${ZEL_TMP_DIR?}" "${ZEL_SETTINGS_FILE?}" "${ZEL_BIN_DIR?}"

now() { ${ZP_DATE:-date} +%s; }
# Seconds of the player's clock since the given time.
since() { echo $(($(now) - $1)); }
# Some check has failed so far: scripts then print what they saw.
any_failed() { [ "$t_failed" -gt 0 ]; }

running() { pidof "$1" >/dev/null 2>&1; }
alive() { kill -0 "$1" 2>/dev/null; }
all_running() { for _p in $processes; do running "$_p" || return 1; done; }
none_running() { for _p in $processes; do running "$_p" && return 1; done; return 0; }
all_markers() { for _m in $markers; do [ -e "$_m" ] || return 1; done; }
# Every one of the processes, files (present), or none of the files (absent).
running_all() { for _p; do running "$_p" || return 1; done; }
present() { for _f; do [ -e "$_f" ] || return 1; done; }
absent() { for _f; do [ -e "$_f" ] && return 1; done; return 0; }
# At least SECONDS of the player's clock have gone since T0: past T0 SECONDS.
past() { [ "$(since "$1")" -ge "$2" ]; }

# The settings file as records "\nkey=value"; written whole, then renamed into place.
settings_file() {
  printf '%s' "$1" > "$ZEL_SETTINGS_FILE.new" && mv "$ZEL_SETTINGS_FILE.new" "$ZEL_SETTINGS_FILE"
}
# Every service wanted, as a restart-all leaves the settings; and none.
# shellcheck disable=SC2034 # for the scripts that source this file, as the two below
ALL_WANTED=$(for _s in $services; do printf '\n%s=1' "$_s"; done)
# shellcheck disable=SC2034
NONE_WANTED=$(for _s in $services; do printf '\n%s=0' "$_s"; done)
setting() { sed -n "s/^$1=//p" "$ZEL_SETTINGS_FILE" | tail -n 1; }

# Messages waiting on the queue of ZEL_BIN_DIR (ipcs: the last column).
queued() { ipcs -q | awk '$1 ~ /^0x/ { n += $NF } END { print n + 0 }'; }

# The journal of the stand-ins as "path args" lines, without the time stamps.
journal() { cut -d' ' -f2- /player/journal; }
journal_says() { journal | grep -q "$1"; }
# The lines of the requests LETTER..., as the journal shows them: the shell drops a
# blank in front and runs a line ending in "&" in the background.
called_lines() { for _l; do request_lines "$_l"; done | sed 's/^ *//; s/ &$//'; }

# What a restart-all asks the daemon to run, as journal lines: the stops of the
# running services (m d h k q b f o), then the starts (a c e j g n p l).
# shellcheck disable=SC2034
RESTART_STOPS=$(called_lines m d h k q b f o)
# The BitTorrent companion (the second line of "l") has no process check: reset_zel
# goes on once btpd runs, so the daemon's companion start may come before or after
# reset_zel's last lines. The ordered journal leaves it out; companion_once checks it
# on its own.
btpd_start=$(called_lines l | sed -n 1p)
companion_start=$(called_lines l | sed -n 2p)
# shellcheck disable=SC2034
RESTART_STARTS=$(called_lines a c e j g n p l | grep -vxF "$companion_start")
ordered_journal() { journal | grep -vxF "$companion_start"; }
# The journal holds the lines TEXT and the companion's start once, after btpd's.
journal_is() { [ "$(ordered_journal)" = "$1" ] && companion_once; }
companion_once() {
  [ "$(journal | grep -cxF "$companion_start")" = 1 ] &&
    [ "$(journal | grep -nxF "$companion_start" | cut -d: -f1)" -gt "$(journal | grep -nxF "$btpd_start" | cut -d: -f1)" ]
}

# Queues "r" and waits for reset_zel to be done with the browser. What the journal
# held and whether btpd ran the moment the reset marker went are kept for
# marker_went_after_last_start.
unmarked_journal="" unmarked_btpd=""
restart_all() {
  zelctl send r
  wait_for 10 -- [ -e "$ZEL_RESET_MARKER" ] || return 1
  wait_for "${1:-400}" -- [ ! -e "$ZEL_RESET_MARKER" ] || return 1
  unmarked_journal=$(journal)
  unmarked_btpd=$(running btpd && echo up)
  wait_for 30 -- browser_steered
}
# reset_zel is gone and has sent the browser to the maintenance page.
browser_steered() {
  ! pidof reset_zel >/dev/null && grep -q maintenance.html "$ZEL_BROWSER_FILE" 2>/dev/null
}
# reset_zel removed the reset marker only after its last start (BitTorrent's) had
# been served and its process was up.
marker_went_after_last_start() {
  [ "$unmarked_btpd" = up ] && printf '%s\n' "$unmarked_journal" | grep -qxF "$btpd_start"
}

start_all_services() {
  for _l in $start_letters; do zelctl send "$_l"; done
  wait_for 60 -- all_running
}
