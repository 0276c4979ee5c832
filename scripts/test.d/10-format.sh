#!/usr/bin/env bash
# Format stage: every C and C++ file of the project as .clang-format lays it out.
# To mend a finding: clang-format -i FILE.
set -uo pipefail
top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
cd "$top" || exit 1
command -v clang-format >/dev/null || {
  echo "format stage: clang-format not installed (scripts/packages.txt lists it)" >&2
  exit 1
}
mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp' 2>/dev/null || find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.h' -o -name '*.cpp' \) -print)
((${#files[@]})) || { echo "format stage: no sources found" >&2; exit 1; }
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "format stage: run clang-format -i on the files above" >&2
  exit 1
fi
echo "format stage: ${#files[@]} files as .clang-format lays them out"
