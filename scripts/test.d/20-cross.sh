#!/usr/bin/env bash
# Cross stage: builds the player's MIPS programs against uClibc (the C library
# built once and cached by scripts/uclibc.sh) into its staging root
# (zel_rootfs_mipsel of scripts/build_lib.sh), the ARM system's, and the unit tests
# (MIPS on the static glibc stand-in, since GoogleTest has no uClibc build), and
# runs those tests, the target ABI checks and the footprint check under qemu-user
# (ctest starts each target program through CMAKE_CROSSCOMPILING_EMULATOR). The
# host build's tests labelled mipsel then run that root in the simulated player;
# without it they fail.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
missing=()
for p in mipsel-linux-gnu-g++ arm-linux-gnueabi-g++ qemu-mipsel-static qemu-arm-static; do
  command -v "$p" >/dev/null || missing+=("$p")
done
ls /usr/src/uClibc-ng-*.tar.* >/dev/null 2>&1 || missing+=(uclibc-source)
if ((${#missing[@]})); then
  echo "cross stage skipped: ${missing[*]} not installed (scripts/packages.txt lists them);" \
    "the mipsel tests of the host build will fail" >&2
  exit 0
fi
exec bash "$top/scripts/cross.sh" --tests
