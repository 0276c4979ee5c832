#!/bin/sh
# Restart-all with every service running: all are stopped in the fixed order, then
# started; while the reset marker exists no marker is touched.
. "$1"
settings_file "
upnp=1
hlink=1
ftpserv=1
smbserv=1
nfsserv=1
btpdserv=1
nzb=1
vantle=1"
check "all services up" "start_all_services"
check "all markers up" "wait_for all_markers 10"
: > /player/journal

# Watch the markers for as long as the reset marker exists: the services go down and
# come back meanwhile, so any refresh would remove or rewrite a marker. The daemon
# refreshes nothing in the pass that creates the reset marker either.
(
  while ! [ -e /tmp/reset_zel ]; do sleep 0.05; done
  before=$(ls -l --time-style=+%s.%N $markers 2>&1)
  while :; do
    now_markers=$(ls -l --time-style=+%s.%N $markers 2>&1)
    [ -e /tmp/reset_zel ] || break
    [ "$now_markers" = "$before" ] || { echo "marker changed during the reset:"; echo "$now_markers"; }
    sleep 0.05
  done
) > /tmp/marker_watch &
watcher=$!

check "restart-all finishes" "restart_all"
wait $watcher
check "no marker refreshed while the reset marker existed" "! [ -s /tmp/marker_watch ]"
cat /tmp/marker_watch

expected="/mnt/oak7210/bin/btcli -d /share/.btpd/ kill
/mnt/oak7210/server/clutch stop
/mnt/oak7210/server/server stop
/mnt/oak7210/etc/smb.sh stop
/mnt/oak7210/etc/nfsserver.sh stop
/mnt/oak7210/server/vantle stop
/mnt/oak7210/server/ms stop
/mnt/oak7210/etc/ftpserver.sh stop
/mnt/oak7210/server/nzb stop
/mnt/oak7210/server/ms start
/mnt/oak7210/server/server start
/mnt/oak7210/etc/ftpserver.sh start
/mnt/oak7210/etc/nfsserver.sh start
/mnt/oak7210/etc/smb.sh restart
/mnt/oak7210/server/nzb start
/mnt/oak7210/server/vantle start
/mnt/oak7210/etc/btpd.sh
/mnt/oak7210/server/clutch start"
# reset_zel waits for btpd only, so its second run of the setup CGI may come before
# or after the daemon's "clutch start": the CGI lines are checked on their own.
cgi=/opt/oakhttpd/default/setups.cgi
check "stops m d h k q b f o, then starts a c e j g n p l, and no watchdog line" "[ \"\$(journal | grep -vxF $cgi)\" = \"\$expected\" ]"
check "setup CGI first, and once more after btpd.sh" \
  "[ \"\$(journal | head -n1)\" = $cgi ] && journal | sed -n '/btpd.sh\$/,\$p' | grep -qxF $cgi && [ \$(journal | grep -cxF $cgi) -eq 2 ]"
[ "$fail" = 0 ] || journal
check "all processes up again" "all_running"
for s in $services; do
  check "setting $s is 1" "[ \"\$(setting $s)\" = 1 ]"
done
exit $fail
