# Domain helpers for the end-to-end scripts that run inside the simulated player, on
# top of the shared vocabulary (check, expect_eq, wait_for, finish, ...) and the
# service table the build printed from service_table/service_table.h. Every wait is in the
# player's clock, which runs faster than real time. A script sets zel_src to the
# source folder, then sources this file.
. "$zel_src/player/testlib.sh"
. /player/bin/service_table.sh

now() { ${ZP_DATE:-date} +%s; }
# Some check has failed so far: scripts then print what they saw.
any_failed() { [ "$t_failed" -gt 0 ]; }

running() { pidof "$1" >/dev/null 2>&1; }
all_running() { for _p in $processes; do running "$_p" || return 1; done; }
none_running() { for _p in $processes; do running "$_p" && return 1; done; return 0; }
all_markers() { for _m in $markers; do [ -e "$_m" ] || return 1; done; }

# The settings file as records "\nkey=value"; written whole, then renamed into place.
settings_file() {
  printf '%s' "$1" > /tmp/setting.txt.new && mv /tmp/setting.txt.new /tmp/setting.txt
}
# Every service wanted, as a restart-all leaves the settings; and none.
ALL_WANTED=$(for _s in $services; do printf '\n%s=1' "$_s"; done)
NONE_WANTED=$(for _s in $services; do printf '\n%s=0' "$_s"; done)
setting() { sed -n "s/^$1=//p" /tmp/setting.txt | tail -n 1; }

# Messages waiting on the queue of /mnt/oak7210/bin (ipcs: the last column).
queued() { ipcs -q | awk '$1 ~ /^0x/ { n += $NF } END { print n + 0 }'; }

# The journal of the stand-ins as "path args" lines, without the time stamps.
journal() { cut -d' ' -f2- /player/journal; }
# The lines of the requests LETTER..., as the journal shows them: the shell drops a
# blank in front and runs a line ending in "&" in the background.
called_lines() { for _l; do request_lines "$_l"; done | sed 's/^ *//; s/ &$//'; }

# What a restart-all asks the daemon to run, as journal lines: the stops of the
# running services (m d h k q b f o), then the starts (a c e j g n p l).
RESTART_STOPS=$(called_lines m d h k q b f o)
# The BitTorrent companion (the second line of "l") has no process check: reset_zel
# goes on once btpd runs, so the daemon's companion start may come before or after
# reset_zel's last lines. The ordered journal leaves it out; companion_once checks it
# on its own.
btpd_start=$(called_lines l | sed -n 1p)
companion_start=$(called_lines l | sed -n 2p)
RESTART_STARTS=$(called_lines a c e j g n p l | grep -vxF "$companion_start")
ordered_journal() { journal | grep -vxF "$companion_start"; }
companion_once() {
  [ "$(journal | grep -cxF "$companion_start")" = 1 ] &&
    [ "$(journal | grep -nxF "$companion_start" | cut -d: -f1)" -gt "$(journal | grep -nxF "$btpd_start" | cut -d: -f1)" ]
}

# Queues "r" and waits for reset_zel to be done with the browser. What the journal
# held and whether btpd ran the moment the reset marker went are kept for
# marker_went_after_last_start.
restart_all() {
  zelctl send r
  wait_for '[ -e /tmp/reset_zel ]' 10 || return 1
  wait_for '! [ -e /tmp/reset_zel ]' "${1:-400}" || return 1
  unmarked_journal=$(journal)
  unmarked_btpd=$(running btpd && echo up)
  wait_for '! pidof reset_zel >/dev/null && grep -q maintenance.html /tmp/lumo_bc 2>/dev/null' 30
}
# reset_zel removed the reset marker only after its last start (BitTorrent's) had
# been served and its process was up.
marker_went_after_last_start() {
  [ "$unmarked_btpd" = up ] && printf '%s\n' "$unmarked_journal" | grep -qxF "$btpd_start"
}

start_all_services() {
  for _l in $start_letters; do zelctl send $_l; done
  wait_for all_running 60
}
