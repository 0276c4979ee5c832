#!/bin/sh
# The board's tests need the MIPS build (./zel cross, the cross stage of ./zel test)
# and the board's kit (fetched here once, into the cache, when missing).
# usage: ready.sh BOARD BUILD_DIR
set -u
board=$1 build=$2
top=$(dirname "$board")/../..
for f in "$top/build/rootfs-mipsel/mnt/oak7210/bin/zeldaemon" \
         "$top/build/cross-mipsel-player/player/bin/zel-mtd" "$build/player/bin/service_table.sh"; do
  if [ ! -e "$f" ]; then
    echo "FAIL $f missing: the board runs the MIPS build of ./zel cross (the cross stage of ./zel test)"
    exit 1
  fi
done
kit=$(bash "$(dirname "$board")/kit.sh") || { echo "FAIL the board's kit could not be fetched"; exit 1; }
echo "ok   kit in $kit"
