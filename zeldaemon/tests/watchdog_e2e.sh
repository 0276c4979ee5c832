#!/bin/sh
# The watchdog on the real daemon: on the sixth timed sweep after start, and every
# fifth after that, services whose setting reads 1 but whose processes are missing are
# restarted; the markers follow the processes whatever the settings say.
zel_src=$1
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
check "services up" "wait_for 'running ms-mips && running mDNSrespd-mips && running nmbd && running btpd && running client' 20"
check "their markers up, hlink's and vantle's too though their setting is 0" \
  "wait_for '[ -e /tmp/zel_ms ] && [ -e /tmp/zel_mi ] && [ -e /tmp/zel_smb ] && [ -e /tmp/zel_bt ] && [ -e /tmp/zel_vantle ]' 10"
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
check "sweeps watched from the start" "[ \$((\$(now) - t0)) -lt 20 ]"

: > /player/journal
# ms: wanted. hlink: setting 0. btpd: no setting. smb: a pair with one process left.
for p in ms-mips msUPnP-mips btpd nmbd; do kill $(pidof $p); done
check "markers removed at the next sweep" \
  "wait_for '! [ -e /tmp/zel_ms ] && ! [ -e /tmp/zel_mi ] && ! [ -e /tmp/zel_bt ] && ! [ -e /tmp/zel_smb ]' 40"

check "watchdog restarts the media server" "wait_for 'journal | grep -q \"ms start\"' 400"
wait_for '[ $(wc -l < /tmp/sweeps) -ge 6 ]' 20
check "no restart on sweeps 1 to 5, the first on sweep 6" \
  "[ \"\$(sed -n 5p /tmp/sweeps | cut -d' ' -f2)\" = 0 ] && [ \"\$(sed -n 6p /tmp/sweeps | cut -d' ' -f2)\" = 1 ]"
check "media server marker back in the same pass" "[ \"\$(sed -n 6p /tmp/sweeps | cut -d' ' -f4)\" = ms ]"
check "samba pair restarted, marker back" "wait_for 'running nmbd && [ -e /tmp/zel_smb ]' 5"
expected="/mnt/oak7210/server/ms stop
/mnt/oak7210/server/ms start
/mnt/oak7210/etc/smb.sh stop
/mnt/oak7210/etc/smb.sh restart
/mnt/oak7210/server/nzb stop
/mnt/oak7210/server/nzb start"
check "only the wanted services restarted, lines in order" "[ \"\$(journal)\" = \"\$expected\" ]"
any_failed && journal
check "hlink (setting 0) and btpd (no setting) stay down, markers absent" \
  "! running msUPnP-mips && ! running btpd && ! [ -e /tmp/zel_mi ] && ! [ -e /tmp/zel_bt ]"

check "eleven sweeps seen" "wait_for '[ \$(wc -l < /tmp/sweeps) -ge 11 ]' 400"
check "failed restart tried again on sweep 11, not before" \
  "[ \"\$(sed -n 10p /tmp/sweeps | cut -d' ' -f3)\" = 1 ] && [ \"\$(sed -n 11p /tmp/sweeps | cut -d' ' -f3)\" = 2 ]"
check "media server, running, left alone the second time" "[ \$(grep -c 'ms stop' /player/journal) -eq 1 ]"
any_failed && cat /tmp/sweeps
kill $watcher 2>/dev/null
finish
