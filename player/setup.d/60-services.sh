# shellcheck shell=bash
# Sourced while the player's root ($R) is built. With --services real
# (ZP_SERVICES=real) the reference scripts of services/ replace the stand-ins at the
# firmware's paths, and the root gets what Debian's servers need: their accounts,
# /etc/mtab, /etc/netconfig and state folders. Nothing changes with the stand-ins.
[[ "${ZP_SERVICES:-standin}" == real ]] || return 0
zs_services=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../services" && pwd)

# A script goes where the service table names a program of its name (ZEL_SERVER_DIR,
# ZEL_ETC_DIR, ZEL_BIN_DIR); every other shell file (service_lib.sh,
# nfsserver-kernel.sh) to ZEL_ETC_DIR, where the scripts source it. The paths of
# zel_paths.h are filled in for their @NAME@, as the install does.
zs_fill=()
for zs_v in $(compgen -e | grep '^ZEL_'); do zs_fill+=(-e "s|@$zs_v@|${!zs_v}|g"); done
for zs_f in "$zs_services"/*; do
  [[ -f "$zs_f" ]] || continue
  zs_b=${zs_f##*/}
  [[ "$zs_b" == *.txt || "$zs_b" == *.md ]] && continue
  zs_dest=$ZEL_ETC_DIR/$zs_b
  for zs_p in ${programs:-}; do
    [[ "${zs_p##*/}" == "$zs_b" ]] && zs_dest=$zs_p
  done
  sed "${zs_fill[@]}" "$zs_f" >"$R$zs_dest" && chmod 755 "$R$zs_dest"
done

# zel_services runs "exportfs -r" after each change of the export table. The
# kernel's server takes the table from it; the userspace server of nfsserver.sh
# takes it from "nfsserver.sh reload", which exportfs runs too in here (while nfsd
# runs). /usr is the host's, read-only: the wrapper is mounted over it.
if [[ -x "$R/usr/sbin/exportfs" ]]; then
  install -m 755 /usr/sbin/exportfs "$R/player/bin/exportfs.real"
  printf '#!/bin/sh\n/player/bin/exportfs.real "$@"\nrc=$?\n%s\nexit $rc\n' \
    "! pidof nfsd >/dev/null 2>&1 || $ZEL_ETC_DIR/nfsserver.sh reload" >"$R/player/bin/exportfs"
  chmod 755 "$R/player/bin/exportfs"
  mount --bind "$R/player/bin/exportfs" "$R/usr/sbin/exportfs"
fi

# Accounts: appended where the host's copy lacks the name.
while read -r zs_name zs_uid zs_gid zs_home _; do
  [[ -z "$zs_name" || "$zs_name" == \#* ]] && continue
  grep -q "^$zs_name:" "$R/etc/group" ||
    echo "$zs_name:x:$zs_gid:" >>"$R/etc/group"
  grep -q "^$zs_name:" "$R/etc/passwd" ||
    echo "$zs_name:x:$zs_uid:$zs_gid:$zs_name:$zs_home:/usr/sbin/nologin" >>"$R/etc/passwd"
  if [[ -e "$R/etc/shadow" ]] && ! grep -q "^$zs_name:" "$R/etc/shadow"; then
    echo "$zs_name:!:19000:0:99999:7:::" >>"$R/etc/shadow"
  fi
done <"$zs_services/users.txt"

# The mount table (ganesha, df) and the RPC transports (rpcbind, libtirpc).
ln -sf /proc/self/mounts "$R/etc/mtab"
[[ ! -e /etc/netconfig ]] || cp /etc/netconfig "$R/etc/netconfig"

# Servers look their own host name up (ganesha's callbacks, Samba's names).
grep -qw zelplayer "$R/etc/hosts" 2>/dev/null || echo "127.0.1.1 zelplayer" >>"$R/etc/hosts"
# The clients' own configuration (smbclient, nmblookup): the server's is
# /etc/samba/lib/smb.conf, which the scripts name.
[[ -e "$R/etc/samba/smb.conf" ]] || printf '[global]\n' >"$R/etc/samba/smb.conf"

# State folders of the servers (the scripts make the ones that live in tmpfs too).
mkdir -p "$R/var/lib/samba/private" "$R/var/cache/samba" "$R/run/samba" "$R/var/log/samba" \
         "$R/etc/samba/var" "$R/run/rpcbind" "$R/var/lib/nfs/ganesha" "$R/run/ganesha" \
         "$R/var/log/ganesha" "$R/var/run/zel-services"
# Uploads over FTP, Samba and NFS are written as 1001 (not mapped without root).
chown 1001:1001 "$R/share" 2>/dev/null || true
unset zs_services zs_f zs_b zs_dest zs_p zs_name zs_uid zs_gid zs_home
