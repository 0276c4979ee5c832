# shellcheck shell=sh
# The kernel's NFS server, for a player whose kernel has one. nfsserver.sh sources
# this file (from ZEL_ETC_DIR, after service_lib.sh) once "nfsd" is in
# /proc/filesystems, and calls:
#
#   nfs_kernel_start   rpcbind, the real exportfs over /etc/exports as zel_services
#                      wrote it, rpc.mountd under the process name "mountd", and the
#                      kernel's "nfsd" threads (rpc.nfsd): the two names the daemon
#                      checks
#   nfs_kernel_stop    the threads, mountd and rpcbind; returns once they are gone
#
# NFS versions 3 and 4 on port 2049, MOUNT on NFS_MOUNTD_PORT (20048, fixed so that
# a firewall or a port forward can name it), NFS_THREADS threads (4: a player
# serves a few clients). The exports' state lives in /var/lib/nfs.

NFS_MOUNTD_PORT=${NFS_MOUNTD_PORT:-20048}
NFS_THREADS=${NFS_THREADS:-4}
NFS_SBIN=${NFS_SBIN:-/usr/sbin}
NFS_RPCBIND=${NFS_RPCBIND:-/sbin/rpcbind}

nfs_kernel_start() {
    mkdir -p /var/lib/nfs /run/rpcbind || return 1
    [ -e /var/lib/nfs/etab ] || : >/var/lib/nfs/etab
    [ -e /var/lib/nfs/rmtab ] || : >/var/lib/nfs/rmtab
    # exportfs and mountd talk to the kernel through the nfsd file system.
    if ! grep -q ' /proc/fs/nfsd ' /proc/mounts; then
        mount -t nfsd nfsd /proc/fs/nfsd || { svc_log "cannot mount /proc/fs/nfsd"; return 1; }
    fi
    # The kernel and mountd register with rpcbind; without it neither starts.
    if ! svc_running rpcbind; then
        # Its socket, made last, says it is ready; one left by a stopped rpcbind not.
        rm -f /run/rpcbind.sock
        svc_spawn rpcbind "$NFS_RPCBIND" -f || return 1
        nfs_t=50
        until [ -S /run/rpcbind.sock ]; do
            [ $nfs_t -gt 0 ] || { svc_log "rpcbind did not start"; return 1; }
            sleep 0.1 2>/dev/null || sleep 1
            nfs_t=$((nfs_t - 1))
        done
    fi
    "$NFS_SBIN/exportfs" -r || { svc_log "exportfs -r failed over /etc/exports"; return 1; }
    if ! svc_running mountd; then
        svc_spawn mountd "$NFS_SBIN/rpc.mountd" -F -p "$NFS_MOUNTD_PORT" || return 1
    fi
    "$NFS_SBIN/rpc.nfsd" "$NFS_THREADS" || { svc_log "rpc.nfsd failed"; return 1; }
    svc_wait_up 100 nfsd mountd
}

nfs_kernel_stop() {
    nfs_ok=0
    # Writing 0 threads returns once the kernel's threads have ended.
    if grep -q ' /proc/fs/nfsd ' /proc/mounts; then
        "$NFS_SBIN/rpc.nfsd" 0 || nfs_ok=1
        "$NFS_SBIN/exportfs" -au 2>/dev/null
        "$NFS_SBIN/exportfs" -f 2>/dev/null
    fi
    svc_stop mountd || nfs_ok=1
    svc_stop rpcbind || nfs_ok=1
    svc_wait_gone 50 nfsd || nfs_ok=1
    return $nfs_ok
}
