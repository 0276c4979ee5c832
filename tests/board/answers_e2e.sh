#!/bin/sh
# The flash emulation answers as the board's drivers do: a fixed list of MTD requests
# (zel-mtd answers) on each chip of the board's table (player/board/chips), in one
# boot, and in the simulated player with the emulation set to the chip the table
# names for it, with the chip's erase size. Prints the board's answers.
# usage: answers_e2e.sh BOARD ZELPLAYER BUILD_DIR
set -u
board=$1 player=$2 build=$3
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
chips=$(dirname "$board")/chips
dir=$(mktemp -d "$build/board-answers.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT

grep -v '^#' "$chips" | while read -r c _; do
  [ -n "$c" ] || continue
  printf '%s\n' "player answers@$c" "arg --chip" "arg $c" "arg --" "arg sh" "arg -c" \
    "arg zel-mtd answers >$dir/board.$c"
done >"$dir/plan"
run_plan() { "$board" --build "$build" --bind "$dir" --timeout 300 --plan "$dir/plan" >"$dir/board.log" 2>&1; }
check "the board answers on every chip" -- run_plan ||
  cat "$dir/board.log"
grep -v '^#' "$chips" >"$dir/chips"
while read -r c erase _ emulation _; do
  [ -n "$c" ] || continue
  "$player" --build "$build" -- sh -c "echo $emulation >/dev/mtd0.chip; echo $emulation >/dev/mtd1.chip;
    echo $erase >/dev/mtd1.erasesize; zel-mtd answers" </dev/null >"$dir/sim.$c" 2>&1
  echo "== $c"
  cat "$dir/board.$c" 2>/dev/null
  expect_file "$c: the emulation answers as the board" "$dir/sim.$c" "$dir/board.$c"
done <"$dir/chips"
finish
