# Sourced while the player's root ($R) is built. --env ZEL_SH=busybox makes /bin/sh
# BusyBox ash, the firmware's shell: its echo takes -e, which the programs' fixed
# command lines rely on (Debian's dash would print the "-e").
if [[ "${ZEL_SH:-}" == busybox ]] && [[ -x /usr/bin/busybox ]]; then
  # /usr is the host's, read-only: the shell that /bin/sh names is covered by a mount.
  mount --bind /usr/bin/busybox "$(readlink -f "$R/bin/sh")"
fi
