#!/usr/bin/env bash
# Figures of the daemon's main job on the simulated player (release build):
#   - a restart-all of eight running services: duration in the player's clock and in
#     real time, and the shells it starts (zeldaemon's and reset_zel's system calls);
#   - the idle daemon: resident memory, and CPU time per simulated hour (its own, and
#     that of the shells and pidof checks it waits for).
# Usage: ./zel bench restart_all [SPEED] [IDLE_SPEED]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
speed=${1:-10}
idle_speed=${2:-60}
build=$top/build/release
# The release build: only the programs and the player's helpers (with the stand-ins'
# service table) are built.
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build_install release "$build/rootfs" zel_programs zel_player_helpers >/dev/null

inside=$(mktemp "${TMPDIR:-/tmp}/zel-bench.XXXXXX.sh")
trap 'rm -f "$inside"' EXIT
cat > "$inside" <<'SH'
#!/bin/bash
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
mode=$2
speed=$3
uptime() { cut -d' ' -f1 /proc/uptime; }
settings_file "$ALL_WANTED"
start_all_services || { echo "services did not come up" >&2; exit 1; }

if [ "$mode" = restart ]; then
  : > /player/journal
  s0=$(date +%s.%N); r0=$(uptime)
  restart_all 700 || { echo "restart-all did not finish" >&2; exit 1; }
  s1=$(date +%s.%N); r1=$(uptime)
  echo "restart-all of 8 running services, player clock x$speed:"
  awk -v s0="$s0" -v s1="$s1" -v r0="$r0" -v r1="$r1" \
    'BEGIN { printf "  duration: player clock %.1f s, real %.2f s\n", s1 - s0, r1 - r0 }'
  echo "  script calls: $(wc -l < /player/journal)"

  # Once more with strace counting the shells: every system() of the two programs
  # execs /bin/sh. (strace slows everything, so this run is not timed.)
  daemon=$(pidof zeldaemon)
  strace -f -qq -e trace=execve -e signal=none -o /tmp/execs -p "$daemon" 2>/dev/null &
  tracer=$!
  sleep 1
  restart_all 700 || { echo "restart-all did not finish" >&2; exit 1; }
  sleep 1
  kill "$tracer"; wait "$tracer" 2>/dev/null
  shells=$(grep -c 'execve("/bin/sh"' /tmp/execs)
  checks=$(grep -c 'execve("/bin/sh", \["sh", "-c", "pidof ' /tmp/execs)
  echo "  shells started: $shells, of them $checks pidof checks (counted on a second run under strace)"
  exit 0
fi

# Idle: a fresh daemon, no requests, services running with their settings at 1.
/etc/init.d/S60zeldaemon restart >/dev/null
daemon=$(pidof zeldaemon)
tick=$(getconf CLK_TCK)
read -r -a st < "/proc/$daemon/stat"
u0=${st[13]}; k0=${st[14]}; cu0=${st[15]}; ck0=${st[16]}; r0=$(uptime); s0=$(date +%s)
sleep 3600
read -r -a st < "/proc/$daemon/stat"
s1=$(date +%s); r1=$(uptime)
echo "idle daemon, $((s1 - s0)) s of player clock at x$speed ($(awk -v a="$r0" -v b="$r1" 'BEGIN{printf "%.1f", b - a}') s real):"
echo "  VmRSS $(sed -n 's/^VmRSS:[[:space:]]*//p' /proc/$daemon/status), VmHWM $(sed -n 's/^VmHWM:[[:space:]]*//p' /proc/$daemon/status)"
awk -v u=$((st[13] - u0)) -v k=$((st[14] - k0)) -v cu=$((st[15] - cu0)) -v ck=$((st[16] - ck0)) \
    -v t="$tick" -v h=$((s1 - s0)) \
  'BEGIN {
     printf "  CPU per simulated hour: daemon %.2f s (user %.2f, sys %.2f); shells and pidof it ran %.2f s\n",
            (u + k) / t * 3600 / h, u / t * 3600 / h, k / t * 3600 / h, (cu + ck) / t * 3600 / h
   }'
/etc/init.d/S60zeldaemon stop >/dev/null
SH

for run in "restart $speed" "idle $idle_speed"; do
  set -- $run
  "$top/player/zelplayer" --build "$build" --daemon --speed "$2" --bind "$top" --bind "$inside" \
    -- /bin/bash "$inside" "$top" "$1" "$2"
done
