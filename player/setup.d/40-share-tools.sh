# shellcheck shell=bash
# Sourced while the player's root ($R) is built: the share tools that zel_services
# runs. --env ZEL_TOOLS=standin puts recording stand-ins in their place (see
# player/share-tools/standin); the default is Debian's real tools.
zs_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../share-tools" && pwd)

# Folders of the firmware and the state folders the real tools need.
mkdir -p "$R/etc/samba/lib" "$R/etc/samba/var" "$R/var/lib/samba/private" \
         "$R/var/cache/samba" "$R/run/samba" "$R/var/lib/nfs" "$R/player/share-tools"

# The firmware ships a Samba configuration with the workgroup and the "share" folder.
if [[ ! -e "$R/etc/samba/lib/smb.conf" ]]; then
  install -m 644 "$zs_tools_dir/smb.conf" "$R/etc/samba/lib/smb.conf"
fi

if [[ "${ZEL_TOOLS:-real}" == standin ]]; then
  install -m 755 "$zs_tools_dir/standin" "$R$ZEL_BIN_DIR/pure-pw"
  install -m 755 "$zs_tools_dir/standin" "$R$ZEL_BIN_DIR/testparm"
  # /usr is the host's, read-only: the stand-in is mounted over Debian's exportfs.
  if [[ -e "$R/usr/sbin/exportfs" ]]; then
    mkdir -p "$R/player/bin"
    install -m 755 "$zs_tools_dir/standin" "$R/player/bin/exportfs"
    mount --bind "$R/player/bin/exportfs" "$R/usr/sbin/exportfs"
  fi
else
  if [[ -x /usr/bin/pure-pw ]]; then
    install -m 755 "$zs_tools_dir/pure-pw" "$R$ZEL_BIN_DIR/pure-pw"
  fi
  if [[ -x /usr/bin/testparm ]]; then
    ln -sf /usr/bin/testparm "$R$ZEL_BIN_DIR/testparm"
  fi
  # exportfs is Debian's, in the host's /usr.
  : > "$R/var/lib/nfs/etab"
  : > "$R/var/lib/nfs/rmtab"
fi
unset zs_tools_dir
