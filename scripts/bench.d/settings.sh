#!/usr/bin/env bash
# Settings store benchmarks (optimized build, private /tmp and /dev, emulated flash):
# time per operation and its ratio to the floor of the file format.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$top/build/bench-settings
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DZEL_COMPONENTS=zelmsg" >/dev/null
cmake --build "$build" -j2 --target zelmsg_settings_bench >/dev/null
csv=$(sh "$top/zelmsg/tests/private_root.sh" "$build/zelmsg/bench/zelmsg_settings_bench" \
        --benchmark_format=csv --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" 2>/dev/null)
echo "$csv" | awk -F, '
  /_median"?,/ {
    gsub(/"/, "", $1); split($1, p, "/"); op = p[1]; sub(/^BM_/, "", op); n = p[2]; sub(/_median$/, "", n)
    t[op "/" n] = $3; unit = $5; order[++k] = op "/" n
  }
  END {
    floor["get_var_mem"] = "floor_read"; floor["write_str"] = "floor_read_rewrite"
    floor["remove_var"] = "floor_read_rewrite"; floor["save_commit"] = "floor_commit"
    printf "%-28s %14s %10s\n", "operation/records", "median/op", "x floor"
    for (i = 1; i <= k; ++i) {
      key = order[i]; split(key, q, "/")
      ratio = (q[1] in floor) ? sprintf("%.2f", t[key] / t[floor[q[1]] "/" q[2]]) : "-"
      printf "%-28s %11.1f %s %10s\n", key, t[key] / 1000, "us", ratio
    }
  }'
