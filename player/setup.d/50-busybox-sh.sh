# shellcheck shell=bash
# Sourced while the player's root ($R) is built. /bin/sh is BusyBox ash, the
# firmware's shell, unless --env ZEL_SH=dash: its echo takes -e, which the
# programs' fixed command lines rely on (Debian's dash would print the "-e").
if [[ "${ZEL_SH:-busybox}" == busybox ]] && [[ -x /usr/bin/busybox ]]; then
  # /usr is the host's, read-only: the shell that /bin/sh names is covered by a mount.
  mount --bind /usr/bin/busybox "$(readlink -f "$R/bin/sh")"
fi
