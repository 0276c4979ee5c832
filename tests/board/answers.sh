#!/bin/sh
# The flash emulation answers as the board's drivers do: a fixed list of MTD requests
# (zel-mtd answers) on each chip of the board, in one boot, and in the simulated
# player with the emulation set to the same chip. Prints the board's answers.
# usage: answers.sh BOARD ZELPLAYER BUILD_DIR
set -u
board=$1 player=$2 build=$3
# shellcheck source=player/testlib.sh
. "$(dirname "$0")/../../player/testlib.sh"
chips="nor nand nand-2k ram"
dir=$(mktemp -d "$build/board-answers.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT

for c in $chips; do
  echo "answers@$c --chip $c -- sh -c 'zel-mtd answers >$dir/board.$c'"
done >"$dir/plan"
run_plan() { "$board" --build "$build" --bind "$dir" --timeout 300 --plan "$dir/plan" >"$dir/board.log" 2>&1; }
check "the board answers on every chip" -- run_plan ||
  cat "$dir/board.log"
for c in $chips; do
  "$player" --build "$build" -- sh -c "echo $c >/dev/mtd0.chip; echo $c >/dev/mtd1.chip; zel-mtd answers" >"$dir/sim.$c" 2>&1
  echo "== $c"
  cat "$dir/board.$c" 2>/dev/null
  expect_file "$c: the emulation answers as the board" "$dir/sim.$c" "$dir/board.$c"
done
finish
