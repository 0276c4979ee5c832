#!/bin/sh
# NFS: serves /etc/exports as "zel_services cmd=nfs_share" and add_share wrote it.
#
#   nfsserver.sh start|stop|restart   the daemon's lines "j", "k" and its watchdog's
#   nfsserver.sh reload               the export table again, the server kept
#
# A kernel with an NFS server (modprobe nfsd; "nfsd" in /proc/filesystems) runs it:
# nfsserver-kernel.sh beside this script brings up rpc.nfsd, exportfs -r and
# rpc.mountd under the name "mountd". Otherwise the userspace server nfs-ganesha
# serves a configuration translated from /etc/exports, under the process name "nfsd".
# It answers MOUNT itself; the daemon's pair of processes "nfsd" and "mountd" is
# made whole by rpcbind, run under the name "mountd": without it the service's
# marker would never show and the watchdog would restart a working server every
# fifth sweep. rpcbind is what clients ask for the MOUNT and NFS ports, so a missing
# "mountd" is a server clients cannot reach, as with the kernel's.
# shellcheck source=services/service_lib.sh
. "${ZEL_SERVICE_LIB:-@ZEL_ETC_DIR@/service_lib.sh}"

EXPORTS=/etc/exports
GANESHA=${GANESHA:-/usr/bin/ganesha.nfsd}
RPCBIND=${RPCBIND:-/usr/sbin/rpcbind}
RUN=/var/run/ganesha
CONF=$RUN/ganesha.conf
KERNEL_LIB=${ZEL_NFS_KERNEL_LIB:-@ZEL_ETC_DIR@/nfsserver-kernel.sh}

kernel_nfsd() {
    [ "${ZEL_NFS_USERSPACE:-0}" = 1 ] && return 1
    # The simulated player (ZP_SERVICES, and no ZP_BOARD) shares the host's kernel: a
    # modprobe there would load a module into the host's.
    [ -n "${ZP_SERVICES:-}" ] && [ -z "${ZP_BOARD:-}" ] && return 1
    [ -e "$KERNEL_LIB" ] || return 1
    modprobe nfsd 2>/dev/null
    grep -qw nfsd /proc/filesystems 2>/dev/null
}

# translate < /etc/exports > ganesha.conf. Lines "PATH CLIENT(OPTS) ..." or with the
# path in double quotes; a folder named on several lines (several networks) is one
# export with a client block per network. A netmask becomes a prefix length.
translate() {
    awk '
    function prefix(mask,   n, i, parts, b) {
        if (mask !~ /\./) return mask
        split(mask, parts, ".")
        n = 0
        for (i = 1; i <= 4; i++)
            for (b = 128; b >= 1; b = b / 2)
                if (parts[i] >= b) { n++; parts[i] -= b }
        return n
    }
    function client_block(client,   host, opts, o, k, i, access, squash, out, addr) {
        host = client; opts = ""
        if (index(client, "(")) {
            host = substr(client, 1, index(client, "(") - 1)
            opts = substr(client, index(client, "(") + 1)
            sub(/\)$/, "", opts)
        }
        if (host == "") host = "*"
        if (index(host, "/")) {
            addr = substr(host, 1, index(host, "/") - 1)
            host = addr "/" prefix(substr(host, index(host, "/") + 1))
        }
        access = "RO"; squash = "Root_Squash"; out = ""
        k = split(opts, o, ",")
        for (i = 1; i <= k; i++) {
            if (o[i] == "rw") access = "RW"
            else if (o[i] == "ro") access = "RO"
            else if (o[i] == "no_root_squash") squash = "No_Root_Squash"
            else if (o[i] == "all_squash") squash = "All_Squash"
            else if (o[i] ~ /^anonuid=/) out = out "\t\tAnonymous_Uid = " substr(o[i], 9) ";\n"
            else if (o[i] ~ /^anongid=/) out = out "\t\tAnonymous_Gid = " substr(o[i], 9) ";\n"
        }
        return "\tCLIENT {\n\t\tClients = " host ";\n\t\tAccess_Type = " access \
               ";\n\t\tSquash = " squash ";\n" out "\t}\n"
    }
    {
        line = $0
        sub(/^[ \t]+/, "", line)
        if (line == "" || substr(line, 1, 1) == "#") next
        if (substr(line, 1, 1) == "\"") {
            rest = substr(line, 2)
            if (!index(rest, "\"")) next
            path = substr(rest, 1, index(rest, "\"") - 1)
            rest = substr(rest, index(rest, "\"") + 1)
        } else {
            path = line; sub(/[ \t].*/, "", path)
            rest = substr(line, length(path) + 1)
        }
        if (!(path in blocks)) order[++n] = path
        k = split(rest, specs, /[ \t]+/)
        for (j = 1; j <= k; j++)
            if (specs[j] != "") blocks[path] = blocks[path] client_block(specs[j])
    }
    END {
        # No rquota: its fixed port 875 lies in the range (600-1023) root clients take
        # their source ports from first, and one such connection in TIME_WAIT there
        # kept ganesha from starting for a minute (its bind fails, it ends). The player
        # has no disk quotas to report.
        print "NFS_CORE_PARAM {\n\tProtocols = 3, 4;\n\tEnable_RQUOTA = false;\n}"
        print "NFSV4 {\n\tGraceless = true;\n}"
        print "NFS_KRB5 {\n\tActive_krb5 = false;\n}"
        print "LOG {\n\tDefault_Log_Level = WARN;\n}"
        for (e = 1; e <= n; e++) {
            p = order[e]
            printf "EXPORT {\n\tExport_Id = %d;\n\tPath = \"%s\";\n\tPseudo = \"%s\";\n", e + 1, p, p
            printf "\tAccess_Type = None;\n\tSquash = Root_Squash;\n\tSecType = sys;\n"
            printf "\tProtocols = 3, 4;\n\tTransports = TCP, UDP;\n\tFSAL {\n\t\tName = VFS;\n\t}\n"
            printf "%s}\n", blocks[p]
        }
    }' "$EXPORTS"
}

write_conf() {
    mkdir -p "$RUN" /var/lib/nfs/ganesha /var/run/rpcbind /run/rpcbind 2>/dev/null
    [ -e "$EXPORTS" ] || : >"$EXPORTS"
    translate >"$CONF.new" && mv -f "$CONF.new" "$CONF"
}

rpcbind_answers() {
    rpcinfo -p 127.0.0.1 >/dev/null 2>&1
}

# The MOUNT service answers over TCP.
answers() {
    rpcinfo -T tcp 127.0.0.1 100005 3 >/dev/null 2>&1
}

userspace_start() {
    write_conf || return 1
    svc_running mountd || svc_spawn mountd "$RPCBIND" -f -w || return 1
    svc_wait_up 50 mountd || return 1
    # ganesha ends at once when it cannot register with rpcbind: wait for rpcbind's
    # answer (at most 10 s; on a loaded player it is slow to come up).
    svc_wait 100 rpcbind_answers || { svc_log "rpcbind does not answer"; return 1; }
    # One more try when ganesha ends before MOUNT answers: under load it was seen to
    # end during its start after a SIGKILL of both servers, and start fine again.
    for try in 1 2; do
        svc_running nfsd ||
            svc_spawn nfsd "$GANESHA" -F -f "$CONF" -L "$RUN/ganesha.log" -p "$RUN/ganesha.pid" || return 1
        # Back once MOUNT answers (at most 10 s): a client right after the start finds it.
        t=100
        until answers; do
            if ! svc_running nfsd; then
                svc_log "nfs-ganesha ended (try $try): $RUN/ganesha.log says:"
                tail -n 3 "$RUN/ganesha.log" 2>/dev/null | sed 's/^/    /' >&2
                continue 2
            fi
            [ $t -gt 0 ] || return 0
            sleep 0.1 2>/dev/null || sleep 1
            t=$((t - 1))
        done
        return 0
    done
    return 1
}

userspace_stop() {
    svc_stop nfsd mountd
}

if kernel_nfsd; then
    # shellcheck source=/dev/null
    . "$KERNEL_LIB"
    case $1 in
        start) nfs_kernel_start ;;
        stop) nfs_kernel_stop ;;
        restart)
            nfs_kernel_stop
            nfs_kernel_start
            ;;
        reload) exportfs -r ;;
        *)
            echo "usage: $0 start|stop|restart|reload" >&2
            exit 2
            ;;
    esac
    exit
fi

case $1 in
    start) userspace_start ;;
    stop) userspace_stop ;;
    restart)
        userspace_stop
        userspace_start
        ;;
    reload)
        write_conf || exit 1
        # nfs-ganesha adds, changes and drops exports on SIGHUP.
        svc_signal HUP nfsd
        ;;
    *)
        echo "usage: $0 start|stop|restart|reload" >&2
        exit 2
        ;;
esac
