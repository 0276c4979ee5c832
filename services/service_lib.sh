# shellcheck shell=sh
# Functions the service scripts share. Installed in the firmware's etc folder
# (ZEL_ETC_DIR of zel_paths.h) beside the scripts that live there; every script
# sources it by that absolute path, overridable for a test:
#
#   . "${ZEL_SERVICE_LIB:-@ZEL_ETC_DIR@/service_lib.sh}"
#
# The install fills the folders of zel_paths.h in for their @NAME@. Not "$0"'s
# folder: half the scripts live in ZEL_SERVER_DIR or ZEL_BIN_DIR. Not the generated
# zel_paths.sh either: only the simulated player has one.
#
# POSIX sh, BusyBox ash included. Process names are what /proc/PID/comm says, which
# is what the daemon's "pidof NAME" looks for.

# Where the links that give a server its process name live: a tmpfs on the player.
SVC_LINK_DIR=${SVC_LINK_DIR:-/var/run/zel-services}

svc_name=${0##*/}

svc_log() {
    echo "$svc_name: $*" >&2
}

# svc_link NAME BINARY: prints the path of a link called NAME to BINARY. A program
# started through it has NAME in /proc/PID/comm (the kernel takes the file's name).
svc_link() {
    if [ -L "$SVC_LINK_DIR" ] || { [ -e "$SVC_LINK_DIR" ] && [ ! -d "$SVC_LINK_DIR" ]; }; then
        svc_log "$SVC_LINK_DIR is no folder"
        return 1
    fi
    mkdir -p "$SVC_LINK_DIR" || return 1
    chmod 700 "$SVC_LINK_DIR"
    ln -sf "$2" "$SVC_LINK_DIR/$1" || return 1
    echo "$SVC_LINK_DIR/$1"
}

# svc_spawn NAME BINARY ARGS...: starts BINARY in the background under the process
# name NAME, its output to /dev/null (servers keep logs of their own).
svc_spawn() {
    svc_n=$1
    svc_b=$2
    shift 2
    svc_l=$(svc_link "$svc_n" "$svc_b") || return 1
    "$svc_l" "$@" </dev/null >/dev/null 2>&1 &
}

# svc_exec NAME BINARY ARGS...: becomes BINARY under the process name NAME (for a
# server the table runs in the foreground with "&").
svc_exec() {
    svc_n=$1
    svc_b=$2
    shift 2
    svc_l=$(svc_link "$svc_n" "$svc_b") || return 1
    exec "$svc_l" "$@"
}

# svc_running NAME...: true when every NAME has a process.
svc_running() {
    for svc_p in "$@"; do
        pidof "$svc_p" >/dev/null 2>&1 || return 1
    done
    return 0
}

# svc_any NAME...: true when any NAME has a process.
svc_any() {
    for svc_p in "$@"; do
        pidof "$svc_p" >/dev/null 2>&1 && return 0
    done
    return 1
}

# svc_signal SIGNAL NAME...: sends SIGNAL to every process of each NAME.
svc_signal() {
    svc_sig=$1
    shift
    for svc_p in "$@"; do
        # shellcheck disable=SC2046 # one word per pid
        svc_pids=$(pidof "$svc_p" 2>/dev/null) && kill -"$svc_sig" $svc_pids 2>/dev/null
    done
    return 0
}

# svc_wait TENTHS CMD...: waits until CMD succeeds, at most TENTHS tenths of a
# second; false when it never did.
svc_wait() {
    svc_w=$1
    shift
    until "$@"; do
        [ "$svc_w" -gt 0 ] || return 1
        sleep 0.1 2>/dev/null || sleep 1
        svc_w=$((svc_w - 1))
    done
    return 0
}

svc_none() { ! svc_any "$@"; }

# svc_wait_gone TENTHS NAME...: waits until no NAME has a process.
svc_wait_gone() {
    svc_t=$1
    shift
    svc_wait "$svc_t" svc_none "$@"
}

# svc_wait_up TENTHS NAME...: waits until every NAME has a process.
svc_wait_up() {
    svc_t=$1
    shift
    svc_wait "$svc_t" svc_running "$@"
}

# svc_stop NAME...: ends every process of the names and returns once they are gone:
# TERM, up to SVC_STOP_TENTHS (default 100) tenths of a second, then KILL and up
# to 2 s more. False when a process outlived KILL (a process stuck in the kernel).
svc_stop() {
    svc_any "$@" || return 0
    svc_signal TERM "$@"
    svc_wait_gone "${SVC_STOP_TENTHS:-100}" "$@" && return 0
    svc_log "still running after TERM: $* (KILL)"
    svc_signal KILL "$@"
    svc_wait_gone 20 "$@" && return 0
    svc_log "still running after KILL: $*"
    return 1
}

# svc_setting KEY: prints a setting's value (empty when unset).
svc_setting() {
    zelctl get "$1" 2>/dev/null
}
