# shellcheck shell=sh
# Sourced by the scripts of the two roles no Debian server fills (msUPnP-mips of
# "server", client of "vantle"): the process stays, idle, under its firmware name, so
# that the daemon's process check and the watchdog see what the firmware shows.
# Needs service_lib.sh first.

# The idle program: the simulated player's and the board's zel-idle, else a sleep that
# is not BusyBox (BusyBox picks its applet by the link's name and would refuse it).
idle_program() {
    for idle_p in "${ZEL_IDLE:-}" /player/bin/zel-idle; do
        [ -n "$idle_p" ] && [ -x "$idle_p" ] && { echo "$idle_p"; return 0; }
    done
    idle_p=$(command -v sleep) || return 1
    [ "$(basename "$(readlink -f "$idle_p")")" = busybox ] && return 1
    echo "$idle_p"
}

# idle_start NAME: starts an idle process called NAME unless one runs; returns once it
# shows.
idle_start() {
    svc_running "$1" && return 0
    idle_b=$(idle_program) || { svc_log "no idle program for $1"; return 1; }
    svc_spawn "$1" "$idle_b" infinity || return 1
    svc_wait_up 50 "$1"
}
