#!/bin/sh
# Runs a program with a /tmp and a /dev of its own (a private mount namespace), so
# that a test of the settings store or of the flash partition never touches the
# host's /tmp/setting.txt or its devices. The program sees ZEL_PRIVATE_ROOT=1.
# usage: private_root.sh PROGRAM [ARGS...]
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
exec unshare --mount --propagation private sh -c '
  set -e
  mount -t tmpfs zeltmp /tmp
  mkdir /tmp/.hostdev
  mount --rbind /dev /tmp/.hostdev
  mount -t tmpfs zeldev /dev
  for n in null zero full random urandom; do
    touch /dev/$n
    mount --bind /tmp/.hostdev/$n /dev/$n
  done
  ln -s /proc/self/fd /dev/fd
  umount -l /tmp/.hostdev
  rmdir /tmp/.hostdev
  export ZEL_PRIVATE_ROOT=1
  exec "$@"' private_root "$@"
