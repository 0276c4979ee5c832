#!/usr/bin/env bash
# Soak stage: the daemon built plain (as the valgrind stage builds it), flooded with
# requests and noise while services flap; here its resident memory is judged too.
set -euo pipefail
top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
build=$top/build/valgrind

# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build_install valgrind "$build/rootfs" zel_programs zel_player_helpers zeldaemon_queue_flood >/dev/null

# The daemon reports each refused long message ("msgrcv: ..."); the flood makes many.
"$top/player/zelplayer" --build "$build" --bind "$top" --daemon --speed 100 \
  -- bash "$top/zeldaemon/tests/soak_e2e.sh" "$top" "$build/zeldaemon/tests/zeldaemon_queue_flood" 1200 \
  2>&1 | { grep -v '^msgrcv: Argument list too long$' || true; }
