#!/usr/bin/env bash
# Shell stage: shellcheck at warning level over every shell script of the project,
# those named *.sh and those without the suffix that start with a shell's #! line
# (zel, player/zelplayer, the stand-ins, the init scripts). Any finding fails.
#
# The scripts go to one shellcheck run, from the top folder: a "# shellcheck
# source=PATH" line names a sourced file from there, and shellcheck follows it
# because it is one of the files checked. To mend a finding, mend the code; where the
# code is right, a "# shellcheck disable=SCnnnn" line above it says why.
set -uo pipefail
top=${ZEL_TOP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
cd "$top" || exit 1
command -v shellcheck >/dev/null || {
  echo "shell stage: shellcheck not installed (scripts/packages.txt lists it)" >&2
  exit 1
}

is_shell_script() {
  case $1 in
    *.sh) return 0 ;;
  esac
  local first
  IFS= read -r first <"$1" 2>/dev/null || return 1
  [[ $first =~ ^#!.*[/\ ](sh|bash|dash|ash)([[:space:]]|$) ]]
}

mapfile -t tracked < <(git ls-files 2>/dev/null ||
                       find . -path ./build -prune -o -path ./.git -prune -o -type f -print | sed 's|^\./||')
files=()
for f in "${tracked[@]}"; do
  [[ -f $f ]] && is_shell_script "$f" && files+=("$f")
done
((${#files[@]})) || { echo "shell stage: no shell scripts found" >&2; exit 1; }
if ! shellcheck -S warning "${files[@]}"; then
  echo "shell stage: shellcheck findings above" >&2
  exit 1
fi
echo "shell stage: shellcheck clean on ${#files[@]} scripts"
