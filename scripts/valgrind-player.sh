#!/bin/bash
# Runs inside the simulated player (see scripts/test.d/40-valgrind.sh): every program
# of the firmware once under valgrind memcheck, on its ordinary path. A run passes when
# memcheck reports no error and no definitely lost block; memory a killed daemon still
# holds is not a leak. Arguments: the source folder (bound into the player) and the
# build's list of programs (programs.txt).
set -u
src=$1
firmware_programs=$(cut -d' ' -f1 "$2")
logs=/tmp/memcheck
mkdir -p "$logs"
vg=(valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite
    --errors-for-leak-kinds=definite --track-origins=yes)
# shellcheck source=testsupport/testlib.sh
. "$src/testsupport/testlib.sh"
. /player/bin/service_table.sh
: "${services?}"
. /player/bin/zel_paths.sh
bin=$ZEL_BIN_DIR

# memcheck NAME CMD...: one run; its status is the program's own unless memcheck
# found something (99), which memcheck_errors then lists.
memcheck_errors=""
memcheck() {
  local name=$1 rc=0
  shift
  "${vg[@]}" --log-file="$logs/$name.%p.log" "$@" || rc=$?
  [[ $rc == 99 ]] && memcheck_errors+="$name: $*"$'\n'
  return "$rc"
}

# The daemon, in the foreground as the boot script would start it. reset_zel, which it
# starts on "r", goes through memcheck too.
mv "$bin/reset_zel" "$bin/reset_zel.real"
printf '#!/bin/sh\nexec %s --log-file=%s/reset_zel.%%p.log %s/reset_zel.real "$@"\n' \
  "${vg[*]}" "$logs" "$bin" > "$bin/reset_zel"
chmod 755 "$bin/reset_zel"

"${vg[@]}" --log-file="$logs/zeldaemon.%p.log" "$bin/zeldaemon" \
  </dev/null >>/tmp/zeldaemon.log 2>&1 &
daemon=$!

# zelctl: every command, queue requests included.
# shellcheck disable=SC2046
memcheck zelctl zelctl set $(for s in $services; do echo "$s=0"; done) workgroup=HOME >/dev/null
check "zelctl get" -- [ "$(memcheck zelctl zelctl get workgroup)" = HOME ]
memcheck zelctl zelctl unset workgroup
memcheck zelctl zelctl show >/dev/null
memcheck zelctl zelctl commit
memcheck zelctl zelctl init
memcheck zelctl zelctl dump settings >/dev/null
memcheck zelctl zelctl dump flash >/dev/null
memcheck zelctl zelctl nosuchcommand 2>/dev/null
memcheck zelctl zelctl send a
memcheck zelctl zelctl send s
up() { pidof "$1" >/dev/null; }
check "daemon serves a request" -- wait_for 60 -- up ms-mips

# Restart-all: the daemon hands over to reset_zel, which restarts the services
# through it, commits and steers the browser.
rm -f /tmp/lumo_bc
memcheck zelctl zelctl send r
# A log of memcheck's for the program NAME.
logged() { ls "$logs/$1".*.log >/dev/null 2>&1; }
restart_all_done() { grep -q maintenance.html /tmp/lumo_bc 2>/dev/null && ! pgrep -f reset_zel.real >/dev/null; }
check "reset_zel started" -- wait_for 30 -- logged reset_zel
check "restart-all done" -- wait_for 300 -- restart_all_done
check "daemon still serving" -- kill -0 "$daemon"

# A few passes more so that the watchdog and the markers run, then a stop.
sleep 3
kill -TERM "$daemon"
wait "$daemon" 2>/dev/null

# zel_services: each command, with the stand-in share tools.
mkdir -p /HARD_DISK/share
memcheck zel_services zel_services cmd=nfs_share opt=eth0
memcheck zel_services zel_services cmd=add_share 'opt=HARD_DISK|#HARD_DISK'
memcheck zel_services zel_services cmd=smb_workgrp opt=WORKGRP
memcheck zel_services zel_services cmd=ftp_passwd opt=guest
memcheck zel_services zel_services cmd=remove_share opt=HARD_DISK
memcheck zel_services zel_services cmd=nosuch opt=x
memcheck zel_services zel_services 2>/dev/null

# arraygen: a document with nesting, attributes and text to escape, to a file and to
# standard output.
for xml in "$src"/arraygen/tests/golden/*.xml; do
  memcheck arraygen arraygen "$xml" /tmp/arraygen.php
done
memcheck arraygen arraygen "$src/arraygen/tests/golden/utf8.xml" >/dev/null
memcheck arraygen arraygen /nonexistent.xml >/dev/null
memcheck arraygen arraygen 2>/dev/null

# shmpoke: refused without the control block, then writing into one.
memcheck shmpoke shmpoke >/dev/null 2>&1
python3 -c '
import ctypes
libc = ctypes.CDLL(None, use_errno=True)
if libc.shmget(9230, 4096, 0o1666) < 0:
    raise SystemExit("shmget: %d" % ctypes.get_errno())'
shmpoke_writes() { memcheck shmpoke shmpoke >/dev/null; }
check "shmpoke writes the block" -- shmpoke_writes

# Every run left its log; a killed daemon's log counts like the others.
for p in $firmware_programs; do
  check "$p ran under memcheck" -- logged "$p"
done
# With -q memcheck writes only what it found; forked children that go on to exec a
# shell leave empty logs.
only_warnings() { ! grep -v 'Warning: \|^==[0-9]*== *$' "$1" | grep -q .; }
for log in "$logs"/*.log; do
  [[ -s "$log" ]] || continue
  echo "== $(basename "$log")"
  cat "$log"
  check "memcheck: $(basename "$log") holds only warnings" -- only_warnings "$log"
done
expect_eq "memcheck found nothing" "$memcheck_errors" ""
echo "memcheck: $(ls "$logs" | wc -l) processes checked (children forked to run a shell included)"
finish
