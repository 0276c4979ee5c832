# Helpers for the end-to-end scripts that run inside the simulated player. Every wait
# is in the player's clock, which runs faster than real time.
fail=0
check() {
  if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi
}
# wait_for CONDITION [SECONDS]: polls every tenth of a (player) second.
wait_for() {
  _n=0
  _max=$(( ${2:-60} * 10 ))
  while [ $_n -lt $_max ]; do
    eval "$1" && return 0
    sleep 0.1
    _n=$((_n + 1))
  done
  return 1
}
now() { date +%s; }

services="upnp hlink ftpserv smbserv nfsserv btpdserv nzb vantle"
processes="ms-mips msUPnP-mips mDNSrespd-mips pure-ftpd smbd nmbd nfsd mountd btpd nzbget client"
markers="/tmp/zel_ms /tmp/zel_mi /tmp/zel_ftp /tmp/zel_smb /tmp/zel_nfs /tmp/zel_bt /tmp/zel_nzb /tmp/zel_vantle"

running() { pidof "$1" >/dev/null 2>&1; }
all_running() { for _p in $processes; do running "$_p" || return 1; done; }
none_running() { for _p in $processes; do running "$_p" && return 1; done; return 0; }
all_markers() { for _m in $markers; do [ -e "$_m" ] || return 1; done; }

# The settings file as records "\nkey=value"; written whole, then renamed into place.
settings_file() {
  printf '%s' "$1" > /tmp/setting.txt.new && mv /tmp/setting.txt.new /tmp/setting.txt
}
# Every service wanted, as a restart-all leaves the settings.
ALL_WANTED="
upnp=1
hlink=1
ftpserv=1
smbserv=1
nfsserv=1
btpdserv=1
nzb=1
vantle=1"
NONE_WANTED=$(printf '%s' "$ALL_WANTED" | sed 's/=1$/=0/')
setting() { sed -n "s/^$1=//p" /tmp/setting.txt | tail -n 1; }

# The journal of the stand-ins as "path args" lines, without the time stamps.
journal() { cut -d' ' -f2- /player/journal; }

# What a restart-all asks the daemon to run, as journal lines: the stops of the
# running services, then the starts.
SETUP_CGI=/opt/oakhttpd/default/setups.cgi
RESTART_STOPS="/mnt/oak7210/bin/btcli -d /share/.btpd/ kill
/mnt/oak7210/server/clutch stop
/mnt/oak7210/server/server stop
/mnt/oak7210/etc/smb.sh stop
/mnt/oak7210/etc/nfsserver.sh stop
/mnt/oak7210/server/vantle stop
/mnt/oak7210/server/ms stop
/mnt/oak7210/etc/ftpserver.sh stop
/mnt/oak7210/server/nzb stop"
RESTART_STARTS="/mnt/oak7210/server/ms start
/mnt/oak7210/server/server start
/mnt/oak7210/etc/ftpserver.sh start
/mnt/oak7210/etc/nfsserver.sh start
/mnt/oak7210/etc/smb.sh restart
/mnt/oak7210/server/nzb start
/mnt/oak7210/server/vantle start
/mnt/oak7210/etc/btpd.sh"
# The BitTorrent companion has no process check: reset_zel goes on once btpd runs, so
# the daemon's "clutch start" may come before or after reset_zel's last lines. The
# ordered journal leaves it out; companion_once checks it on its own.
ordered_journal() { journal | grep -vx '/mnt/oak7210/server/clutch start'; }
companion_once() {
  [ "$(journal | grep -c 'clutch start$')" = 1 ] &&
    [ "$(journal | grep -n 'clutch start$' | cut -d: -f1)" -gt "$(journal | grep -n 'btpd.sh$' | cut -d: -f1)" ]
}

# Queues "r" and waits for reset_zel to be done with the browser.
restart_all() {
  zelctl send r
  wait_for '[ -e /tmp/reset_zel ]' 10 || return 1
  wait_for '! [ -e /tmp/reset_zel ]' "${1:-400}" || return 1
  wait_for '! pidof reset_zel >/dev/null && grep -q maintenance.html /tmp/lumo_bc 2>/dev/null' 30
}

start_all_services() {
  for _l in a c e g j l n p; do zelctl send $_l; done
  wait_for all_running 60
}
