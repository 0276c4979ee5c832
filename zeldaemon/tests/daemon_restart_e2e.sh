#!/bin/sh
# The boot script, and a daemon killed in the middle of a restart-all: the reset
# marker stays behind, and a new daemon serves requests but refreshes nothing until
# the marker is removed.
zel_src=$1
. "$zel_src/testsupport/e2e_lib.sh"
init=/etc/init.d/S60zeldaemon
settings_file "$NONE_WANTED"

check "boot started one daemon" "[ \$(pidof zeldaemon | wc -w) -eq 1 ]"
check "status says running" "$init status >/dev/null"
pid=$(pidof zeldaemon)
check "start again keeps the one daemon" "$init start >/dev/null && [ \"\$(pidof zeldaemon)\" = $pid ]"
check "restart gives a new one" "$init restart >/dev/null && [ \$(pidof zeldaemon | wc -w) -eq 1 ] && [ \"\$(pidof zeldaemon)\" != $pid ]"

# Hold reset_zel in its starts: the FTP server comes up only after 30 s.
echo 30 > /player/switches/delay-ftpserver.sh
: > /player/journal
zelctl send r
check "restart-all under way" "wait_for 'journal | grep -q \"ftpserver.sh start\"' 30"
check "stop returns with the daemon gone" "$init stop >/dev/null && ! pidof zeldaemon >/dev/null"
check "status says stopped" "! $init status >/dev/null"
kill $(pidof reset_zel)
check "reset marker stays" "[ -e /tmp/reset_zel ]"

rm -f $markers
t0=$(now)
$init start >/dev/null
: > /player/journal
zelctl send b
check "new daemon serves requests" "wait_for 'journal | grep -q \"ms stop\"' 10"
check "but refreshes no marker for more than a sweep" \
  "wait_for '[ \$((\$(now) - t0)) -ge 40 ]' 60 && ! ls $markers >/dev/null 2>&1"
rm /tmp/reset_zel
check "markers come once the reset marker is gone" "wait_for '[ -e /tmp/zel_mi ] && ! [ -e /tmp/zel_ms ]' 5"
$init stop >/dev/null
finish
