#!/usr/bin/env bash
# ./zel bench arraygen: throughput and peak memory of the XML-to-PHP converter
# beside the floor (cat) and PHP's own XML readers, and the cost of long texts.
# Inputs are generated into build/bench/arraygen. A case running longer than
# ARRAYGEN_BENCH_LIMIT seconds (default 180) is stopped and shown as "> limit".
set -euo pipefail

top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
cd "$top"
limit=${ARRAYGEN_BENCH_LIMIT:-180}
gen=$top/arraygen/bench
work=$top/build/bench/arraygen
mkdir -p "$work"

cmake --preset release >/dev/null
cmake --build --preset release --target arraygen -j2 >/dev/null
bin=$top/build/release/arraygen/arraygen

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

# measure CMD...: sets secs (wall, ms resolution) and rss (peak resident MB).
measure() {
  local t0 t1 rc=0
  t0=$(date +%s%N)
  timeout "$limit" /usr/bin/time -f "%M" -o "$work/time.out" "$@" >/dev/null 2>"$work/stderr" || rc=$?
  t1=$(date +%s%N)
  if ((rc == 124)); then
    secs="> $limit"; rss="-"; return
  fi
  ((rc == 0)) || { echo "bench: $* failed ($rc)" >&2; cat "$work/stderr" >&2; exit 1; }
  secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  rss=$(awk '{ printf "%.1f", $1 / 1024 }' "$work/time.out")
}

row() {  # row LABEL FILE CMD...
  local label=$1 file=$2 mb rate
  shift 2
  measure "$@"
  mb=$(stat -c %s "$file" | awk '{ printf "%.1f", $1 / 1048576 }')
  if [[ "$secs" == ">"* ]]; then rate="-"; else
    rate=$(awk -v m="$mb" -v s="$secs" 'BEGIN { printf "%.1f", (s > 0 ? m / s : 0) }'); fi
  printf "%-44s %8s %10s %9s %9s\n" "$label" "$mb" "$secs" "$rate" "$rss"
}

echo "arraygen benchmark ($(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)); input MB, seconds, MB/s, peak RSS MB"
printf "%-44s %8s %10s %9s %9s\n" "case" "MB" "s" "MB/s" "RSS MB"
best=""
for _ in 1 2 3; do
  measure cat "$work/media50.xml"
  [[ -z "$best" ]] || awk -v a="$secs" -v b="$best" 'BEGIN { exit !(a < b) }' && best=$secs
done
printf "%-44s %8s %10s %9s %9s\n" "floor: cat > /dev/null (best of 3)" 50.0 "$best" \
  "$(awk -v s="$best" 'BEGIN { printf "%.1f", 50 / s }')" "-"
row "arraygen, media list 50 MB" "$work/media50.xml" "$bin" "$work/media50.xml" "$work/media50.php"
row "arraygen, media list 5 MB" "$work/media5.xml" "$bin" "$work/media5.xml" "$work/media5.php"
row "PHP XMLReader into the same arrays, 50 MB" "$work/media50.xml" \
  php -d memory_limit=-1 "$gen/php_reader.php" xmlreader "$work/media50.xml"
row "PHP SimpleXML into arrays, 50 MB" "$work/media50.xml" \
  php -d memory_limit=-1 "$gen/php_reader.php" simplexml "$work/media50.xml"
row "PHP including arraygen's output (of 50 MB)" "$work/media50.xml" \
  php -d memory_limit=-1 -r 'include $argv[1];' "$work/media50.php"
for mb in 1 2 4 16; do
  row "arraygen, one leaf of ${mb} MB text" "$work/text${mb}M.xml" "$bin" "$work/text${mb}M.xml" /dev/null
done
for n in 25000 50000 100000 1000000; do
  row "arraygen, one value of $n apostrophes" "$work/quotes$n.xml" "$bin" "$work/quotes$n.xml" /dev/null
done
