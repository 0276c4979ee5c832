#!/bin/sh
# Restart-all with no service running: reset_zel starts all eight through the daemon,
# commits, steers the browser; the markers follow at the next timed sweep.
. "$1"
settings_file "
upnp=0
hlink=0
ftpserv=0
smbserv=0
nfsserv=0
btpdserv=0
nzb=0
vantle=0
wireless=1"
check "daemon running, nothing else" "pidof zeldaemon >/dev/null && none_running"
: > /player/journal
rm -f /tmp/lumo_bc

check "restart-all finishes" "restart_all"

expected="/mnt/oak7210/server/ms start
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
check "requests a c e j g n p l taken in this order" "[ \"\$(journal | grep -vxF $cgi)\" = \"\$expected\" ]"
check "setup CGI first, and once more after btpd.sh" \
  "[ \"\$(journal | head -n1)\" = $cgi ] && journal | sed -n '/btpd.sh\$/,\$p' | grep -qxF $cgi && [ \$(journal | grep -cxF $cgi) -eq 2 ]"
[ "$fail" = 0 ] || journal
check "all processes up" "all_running"
for s in $services; do
  check "setting $s is 1" "[ \"\$(setting $s)\" = 1 ]"
done
check "other settings kept" "[ \"\$(setting wireless)\" = 1 ]"
check "reset marker gone" "! [ -e /tmp/reset_zel ]"
size=$(stat -c %s /tmp/setting.txt)
check "flash holds the settings file" "cmp -s -n $size /tmp/setting.txt /dev/mtd1"
check "flash image ends the text" "[ \"\$(dd if=/dev/mtd1 bs=1 skip=$size count=1 2>/dev/null | od -An -tx1 | tr -d ' ')\" = 00 ]"
printf 'file:///opt/oakhttpd/default/maintenance.html::\n\n' > /tmp/want_lumo_bc
check "browser on the maintenance page" "cmp -s /tmp/lumo_bc /tmp/want_lumo_bc"
[ "$fail" = 0 ] || od -c /tmp/lumo_bc
check "markers refreshed at the next timed sweep" "wait_for all_markers 35"
exit $fail
