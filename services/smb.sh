#!/bin/sh
# Samba: smbd and nmbd over /etc/samba/lib/smb.conf exactly as zel_services wrote
# it (testparm's output; nothing here edits it).
#
#   smb.sh start|stop|restart   the daemon's lines "g" (restart) and "h" (stop)
#   smb.sh passwd               request "i": the share account zel's password from
#                               the setting smb_passwd (zelctl get smb_passwd)
#
# Samba 4 keeps passwords in its default passdb backend, tdbsam
# (/var/lib/samba/private/passdb.tdb); the configuration's "smb passwd file" line is
# read only by the old smbpasswd backend and is ignored. A password set here works
# at the next connection, with no restart. An empty or missing setting disables
# the account: the shares ("valid users = zel") then take no login, though they are
# still listed.
# shellcheck source=services/service_lib.sh
. "${ZEL_SERVICE_LIB:-@ZEL_ETC_DIR@/service_lib.sh}"

CONF=/etc/samba/lib/smb.conf
ACCOUNT=zel
SMBD=${SMBD:-/usr/sbin/smbd}
NMBD=${NMBD:-/usr/sbin/nmbd}
# smbd starts these on demand for the listing and the other RPC calls.
HELPERS="samba-dcerpcd rpcd_classic rpcd_epmapper rpcd_fsrvp rpcd_lsad rpcd_mdssvc
rpcd_rpcecho rpcd_spoolss rpcd_winreg"

smb_dirs() {
    mkdir -p /var/run/samba /run/samba /var/lib/samba/private /var/cache/samba \
        /var/log/samba /etc/samba/var 2>/dev/null
    return 0
}

# quiet CMD...: CMD with its output dropped and its errors kept, but for Samba's
# warning about the firmware's "display charset", which Samba 4 no longer knows.
quiet() {
    q_err=$("$@" 2>&1 >/dev/null)
    q_rc=$?
    printf '%s\n' "$q_err" | grep -v -e 'display charset' -e '^$' >&2
    return $q_rc
}

smb_passwd() {
    pw=$(svc_setting smb_passwd)
    if [ -z "$pw" ]; then
        svc_log "setting smb_passwd is empty: account $ACCOUNT disabled"
        if pdbedit -s "$CONF" -L -u "$ACCOUNT" >/dev/null 2>&1; then
            quiet smbpasswd -c "$CONF" -d "$ACCOUNT"
        fi
        return 0
    fi
    # -s: the password twice on standard input, never on a command line.
    printf '%s\n%s\n' "$pw" "$pw" | quiet smbpasswd -c "$CONF" -s -a "$ACCOUNT" &&
        quiet smbpasswd -c "$CONF" -e "$ACCOUNT"
}

smb_start() {
    smb_dirs
    # The account from the setting at the first start (a fresh passdb).
    pdbedit -s "$CONF" -L -u "$ACCOUNT" >/dev/null 2>&1 || smb_passwd
    svc_running smbd || "$SMBD" -D -s "$CONF" </dev/null >/dev/null 2>&1
    svc_running nmbd || "$NMBD" -D -s "$CONF" </dev/null >/dev/null 2>&1
    # -D returns once the daemon has forked; the daemon's check follows at once.
    svc_wait_up 50 smbd nmbd
}

smb_stop() {
    # shellcheck disable=SC2086 # one word per helper
    svc_stop smbd nmbd $HELPERS
}

case $1 in
    start) smb_start ;;
    stop) smb_stop ;;
    restart)
        smb_stop
        smb_start
        ;;
    passwd) smb_passwd ;;
    *)
        echo "usage: $0 start|stop|restart|passwd" >&2
        exit 2
        ;;
esac
