#!/usr/bin/env bash
# bench.sh [NAME]: run scripts/bench.d/NAME.sh, or every benchmark.
set -euo pipefail
dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/bench.d
if (($#)); then
  [[ -f "$dir/$1.sh" ]] || { echo "bench: no benchmark $1 (have: $(cd "$dir" && ls *.sh | sed 's/\.sh$//' | xargs))" >&2; exit 2; }
  exec bash "$dir/$1.sh" "${@:2}"
fi
for b in "$dir"/*.sh; do bash "$b"; done
