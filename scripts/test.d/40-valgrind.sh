#!/usr/bin/env bash
# Memcheck stage: the firmware's programs, built plain (valgrind cannot run sanitized
# programs), each run once under valgrind memcheck inside the simulated player; see
# scripts/valgrind-player.sh for what runs. Any error or definite leak fails.
set -euo pipefail
top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
build=$top/build/valgrind

command -v valgrind >/dev/null || {
  echo "valgrind stage: valgrind not installed (scripts/packages.txt lists it)" >&2
  exit 1
}

# Only the programs and the player's helpers; the tests are built elsewhere.
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build_install valgrind "$build/rootfs" zel_programs zel_player_helpers >/dev/null

exec "$top/player/zelplayer" --build "$build" --bind "$top" \
  --disk HARD_DISK --net eth0=192.168.1.23/24 --env ZEL_TOOLS=standin \
  -- bash "$top/scripts/valgrind-player.sh" "$top" "$build/programs.txt"
