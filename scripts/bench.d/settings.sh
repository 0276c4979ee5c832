#!/usr/bin/env bash
# Settings store benchmarks (optimized build, private /tmp and /dev, emulated flash):
# processor time per operation (the machine is shared: waiting for a core is not
# the store's cost) beside the floor of the file format, and their ratio.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$top/build/bench
# shellcheck source=scripts/build_lib.sh
. "$top/scripts/build_lib.sh"
zel_build bench zelmsg_settings_bench >/dev/null
csv=$(sh "$top/testsupport/private_root.sh" "$build/zelmsg/bench/zelmsg_settings_bench" \
        --benchmark_format=csv --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" 2>/dev/null)
echo "$csv" | awk -F, '
  /_median"?,/ {
    gsub(/"/, "", $1); split($1, p, "/"); op = p[1]; sub(/^BM_/, "", op); n = p[2]; sub(/_median$/, "", n)
    t[op "/" n] = $4; unit = $5; order[++k] = op "/" n
  }
  END {
    floor["get_var_mem"] = "floor_read floor_locked_read"; floor["write_str"] = "floor_read_rewrite"
    floor["remove_var"] = "floor_read_rewrite floor_read_shorten"; floor["save_commit"] = "floor_commit"
    printf "%-22s %10s %-20s %10s %8s\n", "operation/records", "cpu/op", "floor", "floor/op", "x floor"
    for (i = 1; i <= k; ++i) {
      key = order[i]; split(key, q, "/")
      if (!(q[1] in floor)) continue
      nf = split(floor[q[1]], fl, " ")
      for (j = 1; j <= nf; ++j) {
        f = t[fl[j] "/" q[2]]
        printf "%-22s %7.1f us %-20s %7.1f us %8.2f\n", key, t[key] / 1000, fl[j], f / 1000, t[key] / f
      }
    }
  }'
