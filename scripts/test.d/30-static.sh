#!/usr/bin/env bash
# Static analysis stage: clang-tidy (checks chosen in .clang-tidy) and cppcheck over
# every source file of the project's build, tests included. Any finding fails.
#
# cppcheck runs its warning, performance and portability groups; its style group
# mostly asks for C++ idioms the C-style code does not use on purpose (casts,
# narrower scopes) and misreads the no-lock build of the store.
set -uo pipefail
top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
build=$top/build/static
jobs=$(nproc 2>/dev/null || echo 2)
((jobs > 2)) && jobs=2

for p in clang-tidy cppcheck clang clang++; do
  command -v "$p" >/dev/null || {
    echo "static stage: $p not installed (scripts/packages.txt lists it)" >&2
    exit 1
  }
done

# A configured tree is all the tools need: compile_commands.json, nothing built.
# The preset builds with clang, so that the fuzz targets are part of it.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# --fresh: an older tree may have been made with another compiler.
(cd "$top" && cmake --preset static --fresh) >"$log" 2>&1 || {
  cat "$log" >&2
  exit 1
}
db=$build/compile_commands.json

# Each source once: clang-tidy itself runs every compile command of a file (the
# store is built twice, with and without its lock).
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$db" | sort -u |
                     grep -v "^$top/build/")

rc=0
out=$build/clang-tidy.txt
# WarningsAsErrors makes clang-tidy fail on a finding; xargs then fails too.
if ! printf '%s\n' "${files[@]}" |
    xargs -P"$jobs" -n1 clang-tidy -p "$build" --quiet >"$out" 2>"$out.err"; then
  cat "$out"
  grep -v 'warnings\{0,1\} generated\.$\|^Suppressed \|^Use -header-filter\|NOLINT' "$out.err" >&2
  echo "static stage: clang-tidy findings above" >&2
  rc=1
fi

# cppcheck: inline suppressions carry their reason beside the line. readdir_r, which
# readdirCalled recommends, is deprecated; readdir on a stream of its own is safe.
if ! cppcheck --project="$db" -j"$jobs" --quiet --error-exitcode=1 --inline-suppr \
    --library=posix --library="$top/scripts/cppcheck-posix.cfg" --library=googletest \
    --enable=warning,performance,portability \
    --suppress=missingIncludeSystem --suppress=readdirCalled \
    -i"$top/build" \
    --template='{file}:{line}: {severity}: {message} [{id}]'; then
  echo "static stage: cppcheck findings above" >&2
  rc=1
fi
((rc == 0)) && echo "static stage: clang-tidy and cppcheck clean on ${#files[@]} files"
exit $rc
