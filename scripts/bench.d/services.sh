#!/usr/bin/env bash
# Figures of the real services (zelplayer --services real, release build), one run:
#   - each server: from its start line (as the daemon runs it) to the first answer of
#     its client (services/tests/clients.sh), real time;
#   - the resident memory of each service's processes (those its start brought up,
#     helpers included, after its client's answer) and their sum, RSS and PSS;
#   - the cost of one FTP login on the host (pure-ftpd checks Debian's argon2id hash):
#     wall time and the server's CPU time;
#   - a restart-all of the eight services over the real servers and over the
#     stand-ins, at the same clock speed (SPEED), player clock and real time.
# The board's figures come from an executable scripts/bench.d/services.board when
# one is there (it prints its own lines).
# Usage: ./zel bench services [SPEED]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
speed=${1:-10}
build=$top/build/release
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build_install release "$build/rootfs" zel_programs zel_player_helpers >/dev/null

player() {
  "$top/player/zelplayer" --build "$build" --bind "$top" --net eth0=10.9.0.2/24 --disk HARD_DISK "$@"
}
echo "== each server on its own (real time; memory after its client's answer)"
player --services real -- /bin/bash "$here/services.inside" "$top" servers
for s in real standin; do
  echo "== restart-all of the eight services, $s, player clock x$speed"
  player --services "$s" --daemon --speed "$speed" -- /bin/bash "$here/services.inside" "$top" restart "$speed"
done
if [[ -x "$here/services.board" ]]; then
  echo "== the board"
  "$here/services.board"
fi
