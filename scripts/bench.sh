#!/usr/bin/env bash
# ./zel bench [NAME]: runs scripts/bench.d/NAME.sh, or every one of them.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ $# -ge 1 ]]; then
  name=$1; shift
  [[ -f "$here/bench.d/$name.sh" ]] || { echo "bench: no benchmark $name" >&2; exit 2; }
  exec bash "$here/bench.d/$name.sh" "$@"
fi
for b in "$here"/bench.d/*.sh; do
  echo "== bench: $(basename "$b" .sh)"
  bash "$b"
done
