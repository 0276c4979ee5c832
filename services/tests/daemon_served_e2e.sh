#!/bin/sh
# The daemon over Debian's servers (--services real): its requests start and stop
# them and the markers follow the real processes; a restart-all ends with every client
# answering; servers killed with SIGKILL come back with the watchdog, at its cadence,
# and answer again. Clients: services/tests/clients.sh.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
# shellcheck source=services/tests/clients.sh
. "$zel_src/services/tests/clients.sh"
served=$(served_groups)
is_served() { case " $served " in *" $1 "*) return 0 ;; esac; return 1; }
answers() { client "$1" >/dev/null 2>&1; }
silent() { ! answers "$1"; }
none_of() { for _p; do running "$_p" && return 1; done; return 0; }
# None of the processes PID... is left (a zombie not yet reaped counts as gone).
none_alive() {
    for _q; do
        [ "$(cut -d' ' -f3 "/proc/$_q/stat" 2>/dev/null || echo Z)" = Z ] || return 1
    done
    return 0
}

check "the real scripts are in place" -- grep -q service_lib.sh "$ZEL_SERVER_DIR/ms"
settings_file "$ALL_WANTED"
# What the NFS server serves: /share and the disk, to the interface's network.
zel_services cmd=nfs_share opt=eth0

# A disk folder's name cannot add a line to the media server's configuration.
mkdir "/HARD_DISK
port=8201"
on_its_port() { client_upnp | grep -q ':8200/'; }

# A request's lines return once their processes run or are gone, so the daemon's
# refresh right after the request already shows it: well before the next timed sweep
# (31 s); the bounds leave room for a stop's own time (nzbget takes 0.4 s, 4 s of this
# clock) on a loaded machine. The FTP start alone runs in the background ("&"): its
# marker may wait for that sweep.
printf '%s\n' "$service_rows" > /tmp/rows
while read -r _ key start stop marker procs; do
    bound=12
    [ "$key" = ftpserv ] && bound=40
    zelctl send "$start"
    # shellcheck disable=SC2086 # the processes, one word each
    check "$key: \"$start\" brings up $procs" -- wait_for 20 -- running_all $procs
    check "$key: marker $marker with the processes" -- wait_for $bound -- present "$marker"
    is_served "$key" && check "$key: the client is answered" -- wait_for 20 -- answers "$key"
    [ "$key" = upnp ] && check "upnp: on its port, whatever the disks are called" -- on_its_port
    zelctl send "$stop"
    check "$key: \"$stop\": marker gone in the request's own refresh" -- wait_for 15 -- absent "$marker"
    # shellcheck disable=SC2086
    check "$key: no process left" -- wait_for 8 -- none_of $procs
    is_served "$key" && check "$key: the client is refused" -- silent "$key"
    # The stop lines run here as the daemon runs them: when they return, none of the
    # processes they were to end is left (the watchdog may start new ones meanwhile:
    # the service's setting still wants it).
    zelctl send "$start"
    # shellcheck disable=SC2086
    wait_for 20 -- running_all $procs
    # shellcheck disable=SC2086
    pids=$(pidof $procs)
    request_lines "$stop" > /tmp/lines
    while read -r line; do sh -c "$line"; done < /tmp/lines
    check "$key: its processes found before the stop lines" -- test -n "$pids"
    # shellcheck disable=SC2086
    check "$key: its stop lines return with no process left" -- none_alive $pids
done < /tmp/rows

start_all_services
check "all eight up again" -- wait_for 40 -- all_markers

# Restart-all over running servers. t_reset: when the reset marker went, after which
# the watchdog's first pass is the sixth timed sweep: 155 to about 192 s on (a sweep
# every 31 s and a little), its restarts taking their own time.
zelctl send r
check "restart-all: the reset marker comes" -- wait_for 10 -- present /tmp/reset_zel
check "restart-all: and goes" -- wait_for 600 -- absent /tmp/reset_zel
t_reset=$(now)
check "restart-all: the browser on the maintenance page" -- wait_for 30 -- browser_steered
check "every process running" -- all_running
check "every marker present" -- all_markers
for key in $served; do
    check "$key: the client is answered after the restart-all" -- wait_for 20 -- answers "$key"
done

# SIGKILL to every process of the served groups: nothing but the watchdog brings them
# back, on its pass. Its next pass after that is 155 s later still: 280 s tells them
# apart with room for the restarts' own time on a loaded machine.
killed=""
while read -r _ key _ _ _ procs; do
    is_served "$key" && killed="$killed $procs"
done < /tmp/rows
# shellcheck disable=SC2046 # one word per pid
for p in $killed; do kill -KILL $(pidof "$p") 2>/dev/null; done
# shellcheck disable=SC2086
check "killed:$killed" -- wait_for 5 -- none_of $killed
markers_of_killed() {
    while read -r _ key _ _ marker _; do
        is_served "$key" && echo "$marker"
    done < /tmp/rows
}
# shellcheck disable=SC2046
check "their markers gone at the next timed sweep" -- wait_for 40 -- absent $(markers_of_killed)
still_down() { past "$t_reset" 150 && none_of $killed; }
# shellcheck disable=SC2086
check "still down 150 s after the restart-all: no restart before the watchdog's pass" \
    -- wait_for 200 -- still_down
# shellcheck disable=SC2086
check "the watchdog restarts them by the sixth sweep" -- wait_for 120 -- running_all $killed
echo "     back $(($(now) - t_reset)) s after the restart-all"
check "on the first pass: within 280 s of the restart-all" -- not past "$t_reset" 280
for key in $served; do
    check "$key: the client is answered again" -- wait_for 20 -- answers "$key"
done
check "every marker back" -- wait_for 40 -- all_markers

# A server that takes connections but never answers (stopped here) does not hold its
# stop line, and with it the daemon: asked over its RPC, then TERM, then KILL.
stalled() { t0=$(now); while read -r line; do sh -c "$line"; done; echo $(($(now) - t0)) > "$1"; }
# shellcheck disable=SC2046
kill -STOP $(pidof btpd) $(pidof nzbget)
request_lines m | stalled /tmp/took.m &
request_lines o | stalled /tmp/took.o &
wait
for l in m o; do
    check "\"$l\" over a stalled server returns within 40 s ($(cat /tmp/took.$l) s)" -- [ "$(cat /tmp/took.$l)" -le 40 ]
done
check "and leaves no process" -- none_of btpd nzbget
finish
