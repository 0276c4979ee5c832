# shellcheck shell=bash
# Helpers of the zel_services suites (zel_services/tests/player/*_e2e.sh) that run
# inside the simulated player, on top of testlib.sh's checks; each check is named
# "CASE: what", with CASE set by case_. Sourced by bash, and by BusyBox ash on the
# virtual board. Paths are found from the sourcing suite's own folder ($0).
set -u
zs_here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=testsupport/testlib.sh
. "$zs_here/../../../testsupport/testlib.sh"
# The firmware's paths, exported from zelmsg/include/zel_paths.h.
. /player/bin/zel_paths.sh
# shellcheck disable=SC2034 # for the scripts that source this file, as $said below
golden_dir=$(cd "$zs_here/../golden" && pwd)
tools=/player/share-tools

# want TEXT: a fresh file that holds exactly TEXT; prints its path, for expect_file.
want_n=0
want() {
  want_n=$((want_n + 1))
  printf '%s' "$1" > "/tmp/want.$want_n"
  echo "/tmp/want.$want_n"
}

# zs ARGS...: runs zel_services, keeps its standard error in $err (its own lines
# alone, without those of the tools and the settings store, in $said) and insists on
# exit status 0.
zs() {
  local rc=0
  err=$(zel_services "$@" 2>&1 >/dev/null) || rc=$?
  # shellcheck disable=SC2034
  said=$(printf '%s\n' "$err" | grep -F '[zel_services]' || true)
  expect_eq "$c: zel_services ${1:-} exits 0" "$rc" 0
}

# The stand-in calls recorded since the last reset, as "TOOL ARG|ARG|..." lines.
calls() {
  local f
  # shellcheck disable=SC2010 # the stand-ins' own names, N-TOOL.args: sort -n orders them by N
  for f in $(ls "$tools" | grep '\.args$' | sort -n); do
    printf '%s %s\n' "${f#*-}" "$(paste -sd'|' "$tools/$f")" | sed 's/\.args / /'
  done
}

# A fresh scene: no tables, no temporary files, no recorded calls.
reset_scene() {
  rm -rf /etc/exports /etc/samba/lib/smb.conf /tmp/exports /tmp/exports.tmp /tmp/share.list \
        /tmp/smb.conf /tmp/smb.conf.master /tmp/input.script /tmp/setting.txt \
        /tmp/exports.saved /tmp/smb.conf.saved /etc/pureftpd.passwd /etc/pureftpd.pdb /player/switches/*
  rm -rf "${tools:?}"/*
}

# The export entry line for a folder and client.
entry() { printf '/%s %s(rw,sync,root_squash,anonuid=1001,anongid=1001)\n' "$1" "$2"; }

# The share section zel_services writes for a folder.
section() {
  printf '[%s]\n\tpath = /%s\n\twriteable = yes\n\tvalid users = zel\n' "$1" "$1"
  printf '\tforce create mode = 0644\n\tforce directory mode = 0755\n'
}

# room FILE BYTES: a file .pad beside FILE leaves its file system (a tmpfs of the
# test's own) just the room for FILE to hold BYTES, a whole number of pages: what is
# free, and the pages FILE holds now.
room() {
  local dir=${1%/*} free file
  rm -f "$dir/.pad"
  free=$(stat -f -c '%a * %S' "$dir")
  file=$(stat -c '%b * %B' "$1" 2>/dev/null || echo 0)
  head -c $(($free + $file - $2)) /dev/zero > "$dir/.pad"
}

# line_of N: a comment line of N bytes, its line feed included.
line_of() {
  printf '#'
  head -c $(($1 - 2)) /dev/zero | tr '\0' x
  printf '\n'
}
