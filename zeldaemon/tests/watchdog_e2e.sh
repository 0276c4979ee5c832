#!/bin/sh
# The watchdog on the real daemon: on the sixth timed sweep after start, and every
# fifth after that, services whose setting reads 1 but whose processes are missing are
# restarted; the markers follow the processes whatever the settings say.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
settings_file "
upnp=1
hlink=0
ftpserv=0
smbserv=1
nfsserv=0
nzb=1
vantle=0"
# nzb is wanted but can never start: the watchdog tries it on every watchdog pass.
touch /player/switches/fail-nzb

for l in a c g l p; do zelctl send $l; done
check "services up" -- wait_for 20 -- running_all ms-mips mDNSrespd-mips nmbd btpd client
check "their markers up, hlink's and vantle's too though their setting is 0" \
  -- wait_for 10 -- present /tmp/zel_ms /tmp/zel_mi /tmp/zel_smb /tmp/zel_bt /tmp/zel_vantle
# Count sweeps from a fresh daemon, whose first timed sweep is 31 s away.
/etc/init.d/S60zeldaemon restart >/dev/null
t0=$(now)

# Every timed sweep rewrites the marker of the running vantle service, the last row:
# each change of its time stamp is one sweep. Note per sweep what the watchdog has done
# by then and whether the media server's marker is there.
(
  last=$(stat -c %y /tmp/zel_vantle)
  n=0
  while [ $n -lt 11 ]; do
    m=$(stat -c %y /tmp/zel_vantle 2>/dev/null)
    if [ "$m" != "$last" ]; then
      n=$((n + 1))
      last=$m
      echo "$n $(grep -c 'ms stop' /player/journal) $(grep -c 'nzb stop' /player/journal) $([ -e /tmp/zel_ms ] && echo ms)"
    fi
    sleep 0.2
  done
) > /tmp/sweeps &
watcher=$!
check "sweeps watched from the start" -- not past "$t0" 20

: > /player/journal
# ms: wanted. hlink: setting 0. btpd: no setting. smb: a pair with one process left.
# shellcheck disable=SC2046 # each pid of the name its own argument
for p in ms-mips msUPnP-mips btpd nmbd; do kill $(pidof "$p"); done
check "markers removed at the next sweep" \
  -- wait_for 40 -- absent /tmp/zel_ms /tmp/zel_mi /tmp/zel_bt /tmp/zel_smb

check "watchdog restarts the media server" -- wait_for 400 -- journal_says "ms start"
swept() { [ "$(wc -l < /tmp/sweeps)" -ge "$1" ]; }
# The field of a sweep's line in /tmp/sweeps: sweep N FIELD.
sweep() { sed -n "$1p" /tmp/sweeps | cut -d' ' -f"$2"; }
wait_for 20 -- swept 6
first_restart_on_6() { [ "$(sweep 5 2)" = 0 ] && [ "$(sweep 6 2)" = 1 ]; }
check "no restart on sweeps 1 to 5, the first on sweep 6" -- first_restart_on_6
check "media server marker back in the same pass" -- [ "$(sweep 6 4)" = ms ]
smb_back() { running nmbd && [ -e /tmp/zel_smb ]; }
check "samba pair restarted, marker back" -- wait_for 5 -- smb_back
expected="/mnt/oak7210/server/ms stop
/mnt/oak7210/server/ms start
/mnt/oak7210/etc/smb.sh stop
/mnt/oak7210/etc/smb.sh restart
/mnt/oak7210/server/nzb stop
/mnt/oak7210/server/nzb start"
check "only the wanted services restarted, lines in order" -- [ "$(journal)" = "$expected" ]
any_failed && journal
stay_down() { ! running msUPnP-mips && ! running btpd && absent /tmp/zel_mi /tmp/zel_bt; }
check "hlink (setting 0) and btpd (no setting) stay down, markers absent" -- stay_down

check "eleven sweeps seen" -- wait_for 400 -- swept 11
retried_on_11() { [ "$(sweep 10 3)" = 1 ] && [ "$(sweep 11 3)" = 2 ]; }
check "failed restart tried again on sweep 11, not before" -- retried_on_11
check "media server, running, left alone the second time" -- [ "$(grep -c 'ms stop' /player/journal)" -eq 1 ]
any_failed && cat /tmp/sweeps
kill $watcher 2>/dev/null
finish
