#!/usr/bin/env bash
# Runs every libFuzzer target briefly; ./zel fuzz NAME SECONDS runs one longer.
set -uo pipefail
top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
seconds=${ZEL_FUZZ_SECONDS:-20}
export ZEL_FUZZ_CLEAN=1
rc=0
for src in "$top"/*/fuzz/*_fuzz.cpp; do
  [[ -e "$src" ]] || continue
  name=$(basename "$src" _fuzz.cpp)
  bash "$top/scripts/fuzz.sh" "$name" "$seconds" || rc=1
done
exit $rc
