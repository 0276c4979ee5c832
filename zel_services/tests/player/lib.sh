# Helpers of the zel_services tests that run inside the simulated player.
# Sourced by bash; each test script ends with "finish".
set -u
golden_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../golden" && pwd)
tools=/player/share-tools
failures=0
current=""

case_() { current=$1; }

fail() {
  echo "FAIL [$current] $*"
  failures=$((failures + 1))
}

# expect_file PATH EXPECTED_FILE: byte-exact, with a readable diff on mismatch.
expect_file() {
  if [[ ! -e "$1" ]]; then
    fail "$1 missing"
  elif ! cmp -s "$1" "$2"; then
    fail "$1 differs from $2"
    diff -u "$2" "$1" | cat -A | head -40
  fi
}

# expect_text PATH TEXT: the file holds exactly TEXT.
expect_text() {
  local want
  want=$(mktemp)
  printf '%s' "$2" > "$want"
  expect_file "$1" "$want"
  rm -f "$want"
}

expect_absent() {
  local p
  for p; do [[ ! -e "$p" ]] || fail "$p should not exist"; done
}

expect_eq() { # ACTUAL WANTED WHAT
  [[ "$1" == "$2" ]] || fail "$3: got [$1], want [$2]"
}

# zs ARGS...: runs zel_services, keeps its standard error in $err and insists on
# exit status 0.
zs() {
  local rc=0
  err=$(zel_services "$@" 2>&1 >/dev/null) || rc=$?
  [[ $rc == 0 ]] || fail "zel_services $* exited $rc"
}

# The stand-in calls recorded since the last reset, as "TOOL ARG|ARG|..." lines.
calls() {
  local f
  for f in $(ls "$tools" | grep '\.args$' | sort -n); do
    printf '%s %s\n' "${f#*-}" "$(paste -sd'|' "$tools/$f")" | sed 's/\.args / /'
  done
}

# A fresh scene: no tables, no temporary files, no recorded calls.
reset_scene() {
  rm -f /etc/exports /etc/samba/lib/smb.conf /tmp/exports /tmp/exports.tmp /tmp/share.list \
        /tmp/smb.conf /tmp/smb.conf.master /tmp/input.script /tmp/setting.txt \
        /etc/pureftpd.passwd /etc/pureftpd.pdb /player/switches/*
  rm -rf "${tools:?}"/*
}

# The export entry line for a folder and client.
entry() { printf '/%s %s(rw,sync,root_squash,anonuid=1001,anongid=1001)\n' "$1" "$2"; }

finish() {
  if ((failures)); then
    echo "$failures failure(s)"
    exit 1
  fi
  echo "all cases passed"
  exit 0
}
