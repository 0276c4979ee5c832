#!/bin/bash
# Soak: thousands of requests and noise on the queue while services flap, the clock
# a hundred times faster. The daemon must keep serving with flat descriptors and
# memory, and its markers must match the processes once the queue has drained.
# Usage: soak_e2e.sh SOURCE_FOLDER FLOOD_BINARY [COUNT]
set -u
zel_src=$1
flood=$2
count=${3:-2000}
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
both_up() { for p in "$@"; do pidof "$p" >/dev/null || return 1; done; }

# A child the daemon has just forked carries its name until it runs its command:
# the daemon is the one left when pidof names a single process.
pid=
one_daemon() {
  # shellcheck disable=SC2046 # one word per pid
  set -- $(pidof zeldaemon)
  [ $# = 1 ] && pid=$1
}
check "daemon running" -- wait_for 10 -- one_daemon
# Services that die a few seconds after every start.
echo 3 > /player/switches/die-nzb
echo 5 > /player/switches/die-smb.sh

drain() {
  "$flood" "$1" "$2" &
  local flooder=$!
  while [ "$(queued)" -gt 0 ] || kill -0 "$flooder" 2>/dev/null; do
    sleep 30
    kill -0 "$pid" 2>/dev/null || break
  done
  wait "$flooder"
}

# A first quarter warms the daemon up (allocator, sanitizer caches); the rest must
# not move its descriptors or memory.
start=$(date +%s)
drain $((count / 4)) 7
fd0=$(ls "/proc/$pid/fd" | wc -l)
rss0=$(rss "$pid")
drain $((count - count / 4)) 8
echo "drained $count messages in $(( $(date +%s) - start )) simulated seconds"

check "daemon survived" -- alive "$pid"
fd1=$(ls "/proc/$pid/fd" | wc -l)
rss1=$(rss "$pid")
echo "descriptors $fd0 -> $fd1, resident memory ${rss0} kB -> ${rss1} kB"
check "descriptors flat" -- [ "$fd1" -eq "$fd0" ]
# A sanitizer's runtime keeps growing bookkeeping of its own; memory is judged on the
# plain build (the soak stage of ./zel test), descriptors on both.
if grep -q libasan "/proc/$pid/maps"; then
  echo "resident memory not judged under the sanitizer"
else
  check "resident memory flat (within 1 MiB)" -- [ $((rss1 - rss0)) -lt 1024 ]
fi

rm -f /player/switches/die-*
# Past the last flapping process, then two timed sweeps.
sleep 80
markers_match() {
  local fine=1 m procs up has
  while read -r _ _ _ _ m procs; do
    if both_up $procs; then up=1; else up=0; fi
    if [ -e "$m" ]; then has=1; else has=0; fi
    [ $up = $has ] || { echo "  $m: processes up=$up marker=$has"; fine=0; }
  done <<ROWS
$service_rows
ROWS
  [ $fine = 1 ]
}
# A watchdog restart may be under way at the moment of a look: look up to three
# times, a few seconds apart.
matched=0
for _ in 1 2 3; do markers_match && { matched=1; break; }; sleep 7; done
check "every marker matches its processes" -- [ $matched = 1 ]

: > /player/journal
zelctl send o
served() { for _ in $(seq 300); do grep -q 'nzb stop' /player/journal && return 0; sleep 1; done; return 1; }
check "still serving requests" -- served
finish
