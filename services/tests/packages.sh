#!/bin/bash
# zelplayer --services real: a package of the list that is not installed is named,
# exit 2, before anything starts; the stand-ins need none.
#   packages.sh ZELPLAYER BUILD_DIR
set -u
# shellcheck source=player/testlib.sh
. "$(dirname "$0")/../../player/testlib.sh"
player=$1 build=$2
list=$(mktemp)
trap 'rm -f "$list"' EXIT
printf '# test\nbash  the shell\nzel-no-such-package  missing\n' > "$list"
out=$(ZP_SERVICES_PACKAGES=$list "$player" --build "$build" --services real -- sh -c 'echo started' 2>&1)
rc=$?
expect_eq "missing package: exit 2" "$rc" 2
expect_eq "missing package: named" "$out" \
  "zelplayer: --services real needs the Debian package zel-no-such-package (apt-get install zel-no-such-package, or ./zel test installs it)"
out=$(ZP_SERVICES_PACKAGES=$list "$player" --build "$build" -- sh -c 'echo started' 2>&1)
expect_eq "stand-ins: no package checked" "$out" started
out=$("$player" --build "$build" --services other -- true 2>&1)
expect_eq "unknown value: exit 2" "$?" 2
finish
