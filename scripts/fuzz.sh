#!/usr/bin/env bash
# fuzz.sh NAME [SECONDS]: build the libFuzzer target NAME_fuzz with clang in
# build/fuzz and run it for SECONDS on its corpus <folder>/fuzz/corpus/NAME/.
# New inputs it finds go to a scratch folder, never into the repository
# (removed after a clean run when ZEL_FUZZ_CLEAN is set).
set -euo pipefail

top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
name=${1:?usage: fuzz.sh NAME [SECONDS]}
seconds=${2:-60}

src=$(ls "$top"/*/fuzz/"${name}_fuzz.cpp" 2>/dev/null | head -n1 || true)
[[ -n "$src" ]] || { echo "fuzz: no target $name (no */fuzz/${name}_fuzz.cpp)" >&2; exit 2; }
corpus=$(dirname "$src")/corpus/$name
mkdir -p "$corpus"

build=$top/build/fuzz
(cd "$top" && cmake --preset fuzz) >/dev/null
cmake --build "$build" --target "${name}_fuzz" -j"$(nproc)" >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zel-fuzz-$name.XXXXXX")
mkdir -p "$scratch/new"
log=$scratch/log
rc=0
"$build/fuzzers/${name}_fuzz" -max_total_time="$seconds" -max_len=16384 -timeout=20 \
  -print_final_stats=1 -artifact_prefix="$scratch/" "$scratch/new" "$corpus" >"$log" 2>&1 || rc=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
found=$(ls "$scratch/new" | wc -l)
if ((rc == 0)); then
  if [[ -n "${ZEL_FUZZ_CLEAN:-}" ]]; then
    rm -rf "$scratch"
    echo "fuzz $name: ${runs:-0} executions in ${seconds}s, no failure"
  else
    echo "fuzz $name: ${runs:-0} executions in ${seconds}s, no failure ($found new inputs in $scratch/new)"
  fi
else
  grep -E "^(==[0-9]+==ERROR|SUMMARY|.*runtime error|not a file of)" "$log" | head -n 20 >&2 || true
  echo "fuzz $name: FAILED (status $rc) after ${runs:-?} executions; log and reproducer in $scratch" >&2
  # shellcheck disable=SC2010 # names libFuzzer gives its findings (crash-SHA1, ...)
  ls "$scratch" | grep -E '^(crash|leak|timeout|oom)-' >&2 || true
fi
exit $rc
