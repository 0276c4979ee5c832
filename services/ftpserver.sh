#!/bin/sh
# FTP: pure-ftpd over the virtual accounts of /etc/pureftpd.pdb, which
# "zel_services cmd=ftp_passwd" writes with pure-pw (the account ftpuser, uid and
# gid 1001, home /share). A new password works at the next login: the server reads
# the database at each login.
#
#   ftpserver.sh start   runs the server in the foreground; the daemon's line is
#                        "ftpserver.sh start &"
#   ftpserver.sh stop    returns once every pure-ftpd process (sessions too) is gone
#
# No anonymous logins (-E), every account shut in its home (-A), no reverse lookups
# (-H). Debian's pure-pw hashes with argon2id at a cost it fits to the CPU it runs
# on: a login costs about 3 s of CPU on a PC, and as much on the player for a hash
# the player made (one made on a PC costs the player minutes).
# shellcheck source=services/service_lib.sh
. "${ZEL_SERVICE_LIB:-@ZEL_ETC_DIR@/service_lib.sh}"

PURE_FTPD=${PURE_FTPD:-/usr/sbin/pure-ftpd}
PDB=/etc/pureftpd.pdb

case $1 in
    start)
        svc_running pure-ftpd && exit 0
        [ -e "$PDB" ] || svc_log "$PDB missing: no account can log in until ftp_passwd"
        svc_exec pure-ftpd "$PURE_FTPD" -l "puredb:$PDB" -E -A -H
        ;;
    stop) svc_stop pure-ftpd ;;
    restart)
        svc_stop pure-ftpd || exit 1
        "$0" start &
        svc_wait_up 50 pure-ftpd
        ;;
    *)
        echo "usage: $0 start|stop|restart" >&2
        exit 2
        ;;
esac
