#!/bin/sh
# btpd.sh [start|stop|restart]: BitTorrent. No btpd in Debian: Transmission's daemon
# runs under the name btpd, its state in /share/.btpd/ (the folder btcli is called
# with), downloads into /share. It is driven over RPC on 127.0.0.1 only (btcli,
# transmission-remote, the web interface at http://127.0.0.1:9091/). DHT, local peer
# discovery and port mapping are off: the player talks to no address it was not
# given (BTPD_OPTS turns them back on: -o -y -m).
# shellcheck source=services/service_lib.sh
. "${ZEL_SERVICE_LIB:-@ZEL_ETC_DIR@/service_lib.sh}"

BTPD_BIN=${BTPD_BIN:-/usr/bin/transmission-daemon}
BTPD_DIR=${BTPD_DIR:-/share/.btpd}
BTPD_RPC_PORT=${BTPD_RPC_PORT:-9091}
BTPD_OPTS=${BTPD_OPTS:--O -Y -M}

start() {
    svc_running btpd && return 0
    mkdir -p "$BTPD_DIR" || return 1
    btpd=$(svc_link btpd "$BTPD_BIN") || return 1
    # It goes into the background by itself. No authentication: only this host's
    # address may reach it.
    # shellcheck disable=SC2086 # BTPD_OPTS is a list of options
    "$btpd" -g "$BTPD_DIR" -w /share -p "$BTPD_RPC_PORT" -r 127.0.0.1 -a 127.0.0.1 -T $BTPD_OPTS \
        </dev/null >/dev/null 2>&1 || return 1
    svc_wait_up 50 btpd
}

case ${1:-start} in
    start) start ;;
    stop) svc_stop btpd ;;
    restart) svc_stop btpd && start ;;
    *) echo "usage: $0 [start|stop|restart]" >&2; exit 2 ;;
esac
