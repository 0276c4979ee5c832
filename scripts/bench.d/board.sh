#!/usr/bin/env bash
# Figures of the virtual board (player/board), all in one run:
#   - boot: from qemu's start to the player's shell (host clock, and the board's
#     uptime then), and to qemu's end after a command that does nothing;
#   - the daemon: from S60zeldaemon start to all eight status markers, with the eight
#     services running and wanted (board seconds);
#   - a restart-all of eight running services at the clock's own speed, on the board
#     and on the simulated player (release build), and their ratio;
#   - zeldaemon's VmRSS and VmSize after an hour of its clock (speed IDLE_SPEED);
#   - the sizes of the kernel, the initramfs and the shipped programs.
# Usage: ./zel bench board [BOOTS] [IDLE_SPEED]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
boots=${1:-3}
idle_speed=${2:-60}
board=$top/player/board/board
[[ -x $zel_rootfs_mipsel$zel_bin_dir/zeldaemon && -e $zel_mipsel_helpers/zel-mtd ]] ||
  bash "$top/scripts/cross.sh" mipsel
# The simulated player's side: a release build of the programs and its helpers.
build=$top/build/release
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build_install release "$build/rootfs" zel_programs zel_player_helpers >/dev/null

sub() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }
# stamped CMD...: each line the board prints, after the host seconds since qemu's
# start at which it came.
export ZEL_BOARD_STAMP=$build/qemu-started
stamped() {
  "$@" | while IFS= read -r line; do
    echo "$(sub "$(date +%s.%N)" "$(cat "$ZEL_BOARD_STAMP")") $line"
  done
}

echo "boot, $boots times (seconds from qemu's start, host clock; the board's uptime then):"
for ((i = 1; i <= boots; i++)); do
  t0=$(date +%s.%N)
  stamped "$board" --build "$build" -- cut -d' ' -f1 /proc/uptime >"$build/boot.$i"
  t2=$(date +%s.%N)
  read -r t1 up <"$build/boot.$i"
  echo "  the shell at $t1 s (uptime $up s), qemu's end at $(sub "$t2" "$(cat "$ZEL_BOARD_STAMP")") s" \
    "($(sub "$(cat "$ZEL_BOARD_STAMP")" "$t0") s before qemu in ./zel board)"
done

inside=$build/board-inside.sh
cat >"$inside" <<'SH'
zel_src=$1
mode=$2
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
uptime() { cut -d' ' -f1 /proc/uptime; }
settings_file "$ALL_WANTED"
case $mode in
  markers)
    # The services up as the firmware's start-up leaves them, then the daemon.
    echo "the shell"
    for l in $start_letters; do request_lines "$l" | sh; done
    wait_for 60 -- all_running || { echo "services did not come up" >&2; exit 1; }
    rm -f $markers
    t0=$(uptime)
    echo "S60zeldaemon start"
    /etc/init.d/S60zeldaemon start >/dev/null
    wait_for 120 -- all_markers || { echo "markers did not come up" >&2; exit 1; }
    echo "all eight markers, $(awk -v a="$(uptime)" -v b="$t0" 'BEGIN { printf "%.2f", a - b }') s after S60zeldaemon start"
    ;;
  restart)
    start_all_services || { echo "services did not come up" >&2; exit 1; }
    t0=$(uptime)
    restart_all 700 || { echo "restart-all did not finish" >&2; exit 1; }
    echo "restart $(awk -v a="$(uptime)" -v b="$t0" 'BEGIN { printf "%.2f", a - b }')"
    ;;
  idle)
    # Speed N: an hour of the daemon's clock in 3600/N real seconds.
    start_all_services || { echo "services did not come up" >&2; exit 1; }
    /etc/init.d/S60zeldaemon restart >/dev/null 2>&1
    sleep $((3600 / ZP_SPEED))
    d=$(pidof zeldaemon)
    echo "  zeldaemon after an hour of its clock (x$ZP_SPEED): $(grep -E '^Vm(RSS|Size)' /proc/$d/status | tr -s ' \t' ' ' | paste -sd,)"
    ;;
esac
SH

echo "the daemon on the board, the eight services up and wanted (seconds from qemu's start):"
stamped "$board" --build "$build" --bind "$top" --bind "$build" -- sh "$inside" "$top" markers | sed 's/^/  /'

echo "a restart-all of eight running services, clock x1 (seconds of each player's clock):"
on_board=$("$board" --build "$build" --daemon --bind "$top" --bind "$build" -- sh "$inside" "$top" restart |
  sed -n 's/^restart //p')
simulated=$("$top/player/zelplayer" --build "$build" --daemon --bind "$top" --bind "$build" \
  -- sh "$inside" "$top" restart | sed -n 's/^restart //p')
echo "  board $on_board s, simulated player $simulated s ($(awk -v a="$on_board" -v b="$simulated" 'BEGIN { printf "%.2f", a / b }') times)"

"$board" --build "$build" --daemon --speed "$idle_speed" --bind "$top" --bind "$build" -- sh "$inside" "$top" idle |
  grep -v '^Starting zeldaemon'

echo "sizes (bytes):"
kit=$(bash "$top/player/board/kit.sh")
initramfs=$top/build/board/initramfs.cpio
printf '  kernel (vmlinuz) %s, initramfs %s (gzip -9: %s), BusyBox %s\n' "$(stat -c %s "$kit/vmlinuz")" \
  "$(stat -c %s "$initramfs")" "$(gzip -9c "$initramfs" | wc -c)" "$(stat -c %s "$kit/busybox")"
root=$zel_rootfs_mipsel
printf '  shipped programs %s (%s), uClibc runtime %s\n' \
  "$(cat "$root$zel_bin_dir"/* | wc -c)" \
  "$(cd "$root$zel_bin_dir" && for p in *; do printf '%s %s, ' "$p" "$(stat -c %s "$p")"; done | sed 's/, $//')" \
  "$(cat "$root"/lib/ld-uClibc.so.0 "$root"/lib/libc.so.0 | wc -c)"
