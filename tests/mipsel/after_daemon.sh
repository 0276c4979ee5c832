#!/bin/sh
# after_daemon.sh SCRIPT [ARGS...]: runs SCRIPT once the boot's zeldaemon is up (at
# most 30 s of the player's clock). The boot script returns before its background
# daemon has started, and the request suite looks for the daemon at once: under
# load a MIPS start (and, less often, the host's) loses that race.
set -u
# shellcheck source=testsupport/testlib.sh
. "$(dirname "$0")/../../testsupport/testlib.sh"
daemon_up() { pidof zeldaemon >/dev/null; }
wait_for 30 -- daemon_up
exec /bin/sh "$@"
