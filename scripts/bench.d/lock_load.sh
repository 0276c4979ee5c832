#!/usr/bin/env bash
# The settings lock under load in the simulated player (optimized build): eight
# writers, two locked readers and zel_services beside them. Prints locked operations
# per second and the longest wait for the lock; the test of the same program asserts
# that no update is lost.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$top/build/bench
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build_install bench "$build/rootfs" zelmsg_load_test zel_programs zel_player_helpers >/dev/null
"$top/player/zelplayer" --build "$build" --bind "$build" \
  --disk HARD_DISK --net eth0=10.0.0.2/24 --net wlan0=10.1.0.2/24 --env ZEL_LOAD_REPORT=1 \
  -- "$build/zelmsg/tests/zelmsg_load_test" --gtest_brief=1 | grep '^load:'
