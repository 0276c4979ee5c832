#!/bin/sh
# Runs a program with a /tmp and a /dev of its own (a private mount namespace), so
# that a test of the settings store or of the flash partition never touches the
# host's /tmp/setting.txt or its devices. The program sees ZEL_PRIVATE_ROOT=1.
# usage: private_root.sh PROGRAM [ARGS...]
set -u
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
# A checkout under /tmp (as a CI runner may make) stays reachable: the old /tmp is
# kept at /var/tmp of the private namespace and the program's own folder is bound back.
exec unshare --mount --propagation private sh -c '
  set -e
  keep=""
  case "$(realpath "$1")" in
    /tmp/*) keep=$(realpath "$1" | cut -d/ -f3) ;;
  esac
  [ -z "$keep" ] || mount --rbind /tmp /var/tmp
  mount -t tmpfs zeltmp /tmp
  if [ -n "$keep" ]; then
    mkdir "/tmp/$keep"
    mount --rbind "/var/tmp/$keep" "/tmp/$keep"
  fi
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
