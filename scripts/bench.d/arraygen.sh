#!/usr/bin/env bash
# ./zel bench arraygen: cost and peak memory of the XML-to-PHP converter beside
# the floor of moving its bytes (reading the input, writing the output) and PHP's
# own XML readers, and the cost of long texts. Inputs are generated into
# build/bench/arraygen.
#
# Cost is CPU time (user + system) of the best of ARRAYGEN_BENCH_RUNS runs
# (default 3): on a shared machine wall time mostly measures the other load.
# Wall time is shown beside it. A case running longer than ARRAYGEN_BENCH_LIMIT
# seconds (default 180) is stopped and shown as "> limit". ARRAYGEN_BENCH_BIN
# measures another build of arraygen (a saved older one, say) instead of this
# tree's release build.
set -euo pipefail

top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
cd "$top"
limit=${ARRAYGEN_BENCH_LIMIT:-180}
runs=${ARRAYGEN_BENCH_RUNS:-3}
gen=$top/arraygen/bench
work=$top/build/bench/arraygen
mkdir -p "$work"

if [[ -n "${ARRAYGEN_BENCH_BIN:-}" ]]; then
  bin=$ARRAYGEN_BENCH_BIN
else
  # shellcheck source=scripts/build_lib.sh
  . "$top/scripts/build_lib.sh"
  zel_build release arraygen >/dev/null
  bin=$top/build/release/arraygen/arraygen
fi

for mb in 5 50; do
  [[ -s "$work/media$mb.xml" ]] || php "$gen/gen_media.php" "$mb" "$work/media$mb.xml"
done
for mb in 1 2 4 16; do
  [[ -s "$work/text${mb}M.xml" ]] ||
    php -r '$t = str_repeat("Long text with words. ", 1 + ($argv[1] << 20) / 22);
            file_put_contents($argv[2], "<r><a>" . substr($t, 0, $argv[1] << 20) . "</a></r>\n");' "$mb" "$work/text${mb}M.xml"
done
for n in 25000 50000 100000 1000000; do
  [[ -s "$work/quotes$n.xml" ]] ||
    php -r 'file_put_contents($argv[2], "<r><a>" . str_repeat("\x27", $argv[1]) . "</a></r>\n");' "$n" "$work/quotes$n.xml"
done

# measure NAME CMD...: the best of $runs runs, standard output into a fresh
# $work/NAME (into /dev/null for "-"), and a fresh $work/out.php; sets wall,
# cpu (seconds, "> limit" when stopped, less the cost of starting a program)
# and rss (MB).
base_wall=0 base_cpu=0
less_base() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = 0; printf "%.4f", d }'; }
measure() {
  local out=/dev/null r line w c m
  [[ "$1" == - ]] || out=$work/$1
  shift
  wall="" cpu="" rss=""
  for ((r = 0; r < runs; r++)); do
    [[ "$out" == /dev/null ]] || rm -f "$out"
    rm -f "$work/out.php"
    line=$(php "$gen/measure.php" "$limit" "$out" "$@")
    if [[ "$line" == limit ]]; then
      wall="> $limit" cpu="> $limit" rss="-"
      return
    fi
    read -r w c m <<<"$line"
    w=$(less_base "$w" "$base_wall")
    c=$(less_base "$c" "$base_cpu")
    [[ -n "$wall" ]] && awk -v a="$w" -v b="$wall" 'BEGIN { exit !(a >= b) }' || wall=$w
    [[ -n "$cpu" ]] && awk -v a="$c" -v b="$cpu" 'BEGIN { exit !(a >= b) }' || cpu=$c
    rss=$(awk -v k="$m" 'BEGIN { printf "%.1f", k / 1024 }')
  done
}

mb_of() { stat -c %s "$1" | awk '{ printf "%.2f", $1 / 1048576 }'; }
calc() { awk "BEGIN { printf \"%.${2:-1}f\", $1 }"; }
stopped() { [[ "$cpu" == ">"* ]]; }

row() {  # row LABEL MB [RATIO [GOAL]]
  local rate="-"
  stopped || rate=$(awk -v m="$2" -v s="$cpu" 'BEGIN { if (s > 0) printf "%.1f", m / s; else print "-" }')
  printf "%-52s %6s %9s %9s %8s %7s %9s  %s\n" "$1" "$2" "$wall" "$cpu" "$rate" "${rss:--}" "${3:--}" "${4:-}"
}

media=$work/media50.xml
media_mb=$(mb_of "$media")
echo "arraygen benchmark ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)), $bin"
echo "best of $runs runs; cost = CPU seconds (user + system); MB/s per CPU second"
echo "the cost of starting a program (true under timeout and GNU time) is taken off every row"
printf "%-52s %6s %9s %9s %8s %7s %9s  %s\n" "case" "MB" "wall s" "cpu s" "MB/s" "RSS MB" "ratio" "goal"

measure - true
base_wall=$wall base_cpu=$cpu
row "start-up: true (taken off below)" 0

# The floor: read the input and write an output of the size arraygen writes.
"$bin" "$media" "$work/media50.php"
out_bytes=$(stat -c %s "$work/media50.php")
measure - cat "$media"
read_cpu=$cpu read_wall=$wall
row "floor: read the input (cat > /dev/null)" "$media_mb"
measure floor.out head -c "$out_bytes" /dev/zero
rm -f "$work/floor.out"
row "floor: write its $(calc "$out_bytes / 1048576" 0) MB output (head /dev/zero)" "$(calc "$out_bytes / 1048576" 2)"
floor_cpu=$(calc "$read_cpu + $cpu" 4)
floor_wall=$(calc "$read_wall + $wall" 4)

measure - "$bin" "$media" "$work/out.php"
ag_cpu=$cpu ag_wall=$wall ag_rss=$rss
wall=$floor_wall cpu=$floor_cpu rss=""
row "floor: both" "$media_mb"
wall=$ag_wall cpu=$ag_cpu rss=$ag_rss
ratio="-"
stopped || ratio="$(calc "$cpu / $floor_cpu")x"
row "arraygen, media list 50 MB (x floor)" "$media_mb" "$ratio" "<= 4x floor, RSS <= 2 MB"
measure - "$bin" "$work/media5.xml" "$work/out.php"
row "arraygen, media list 5 MB" "$(mb_of "$work/media5.xml")"

# Cost per input byte beside the media list's; below 1 MB the start-up's
# noise would decide it.
per_byte() {  # per_byte FILE: ratio of CPU per byte to the media list's
  if stopped || [[ "$ag_cpu" == ">"* ]] || (($(stat -c %s "$1") < 1000000)); then echo "-"; return; fi
  calc "($cpu / $(stat -c %s "$1")) / ($ag_cpu / $(stat -c %s "$media"))"
}
for how in xmlreader simplexml; do
  measure - php -d memory_limit=-1 "$gen/php_reader.php" "$how" "$media"
  ratio="-"
  stopped || [[ "$ag_cpu" == ">"* ]] || ratio="$(calc "$cpu / $ag_cpu")x"
  goal=">= 5x arraygen"
  [[ $how == simplexml ]] && goal=">= 10x arraygen"
  row "PHP $([[ $how == xmlreader ]] && echo XMLReader || echo SimpleXML) into the same arrays (x arraygen)" \
    "$media_mb" "$ratio" "$goal"
done
measure - php -d memory_limit=-1 -r 'include $argv[1];' "$work/media50.php"
row "PHP including arraygen's output (of 50 MB)" "$media_mb"

for mb in 1 2 4 16; do
  measure - "$bin" "$work/text${mb}M.xml" /dev/null
  goal=""
  [[ $mb == 16 ]] && goal="<= 2x per byte, RSS <= $((mb + 2)) MB"
  row "arraygen, one leaf of $mb MB text (x media/byte)" "$(mb_of "$work/text${mb}M.xml")" \
    "$(per_byte "$work/text${mb}M.xml")" "$goal"
done
for n in 25000 50000 100000 1000000; do
  measure - "$bin" "$work/quotes$n.xml" /dev/null
  goal=""
  [[ $n == 1000000 ]] && goal="<= 3x per byte, RSS <= $(calc "6 * $n / 1048576 + 2") MB"
  row "arraygen, $n apostrophes (x media/byte)" "$(mb_of "$work/quotes$n.xml")" \
    "$(per_byte "$work/quotes$n.xml")" "$goal"
done

# The player's own build under qemu-user, when ./zel cross has built it (or
# ARRAYGEN_BENCH_MIPS names one, to go with ARRAYGEN_BENCH_BIN): an emulated
# core, so its cost beside the host's is what says something.
mips=${ARRAYGEN_BENCH_MIPS:-$zel_rootfs_mipsel$zel_bin_dir/arraygen}
if [[ -n "${ARRAYGEN_BENCH_MIPS:-}" || -z "${ARRAYGEN_BENCH_BIN:-}" ]] && [[ -x "$mips" ]] &&
  command -v qemu-mipsel-static >/dev/null; then
  measure - "$bin" "$work/media5.xml" "$work/out.php"
  host_cpu=$cpu
  # The player's build links uClibc shared: qemu takes its loader and libraries from
  # the sysroot that built it (cached by ./zel cross). A static one needs none.
  sysroot=()
  if readelf -l "$mips" | grep -q 'ld-uClibc'; then sysroot=(-L "$(bash "$top/scripts/uclibc.sh")"); fi
  measure - qemu-mipsel-static "${sysroot[@]}" "$mips" "$work/media5.xml" "$work/out.php"
  ratio="-"
  stopped || ratio="$(calc "$cpu / $host_cpu")x"
  row "MIPS build under qemu-mipsel, media list 5 MB (x host)" "$(mb_of "$work/media5.xml")" "$ratio"
fi
rm -f "$work/out.php"
