#!/usr/bin/env bash
# Cross stage: builds the player's MIPS and the ARM system's programs with their
# unit tests and runs those tests, the target ABI checks and the footprint check
# under qemu-user (this machine has no binfmt handler; ctest starts each target
# program through CMAKE_CROSSCOMPILING_EMULATOR).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
missing=()
for p in mipsel-linux-gnu-g++ arm-linux-gnueabi-g++ qemu-mipsel-static qemu-arm-static; do
  command -v "$p" >/dev/null || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "cross stage skipped: ${missing[*]} not installed (scripts/packages.txt lists them)" >&2
  exit 0
fi
exec bash "$top/scripts/cross.sh" --tests
