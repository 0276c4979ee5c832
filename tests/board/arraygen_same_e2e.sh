#!/bin/sh
# arraygen's output, byte for byte, over the golden documents and the fuzz corpus:
# ARRAYGEN writes NAME.php (and its exit status, NAME.rc) into OUT for each; with
# REFERENCE, another build's outputs, each must hold the same bytes. The host build
# makes the reference, the board's MIPS build is compared against it.
# usage: arraygen_same_e2e.sh ARRAYGEN SOURCE_DIR OUT [REFERENCE]
set -u
arraygen=$1 src=$2 out=$3 ref=${4:-}
# shellcheck source=testsupport/testlib.sh
. "$src/testsupport/testlib.sh"
mkdir -p "$out"
for xml in "$src"/arraygen/tests/golden/*.xml "$src"/arraygen/fuzz/corpus/arraygen/*.xml; do
  name=$(basename "$(dirname "$xml")")-$(basename "$xml" .xml)
  "$arraygen" "$xml" "$out/$name.php" 2>"$out/$name.err"
  echo $? >"$out/$name.rc"
  if [ -n "$ref" ]; then
    expect_file "$name: the same output" "$out/$name.php" "$ref/$name.php"
    expect_file "$name: the same status" "$out/$name.rc" "$ref/$name.rc"
  else
    check "$name: converted" -- [ -s "$out/$name.php" ]
  fi
done
finish
