#!/bin/sh
# Nothing planted in /tmp makes a program of this system write elsewhere, wait for
# good, or give up its other work. Every path under ZEL_TMP_DIR that zel_paths.sh
# names (the programs' paths, from zel_paths.h) and every status marker of the
# service table gets, in turn, a symbolic link to a victim file, a FIFO and a
# directory (planted by root, so that no kernel protection of links hides what a
# program does), and then the program that uses it runs. For each: the victim keeps its bytes, no program is cut
# off by the time limit, nothing is followed or waited on (a link or FIFO there is
# gone afterwards), a directory stays and is named on standard error, and the
# program's other work is done. The settings file and the daemon's markers also get a
# second name, /tmp/.mine, as any user may give them on a kernel without protected
# hard links: the program goes on with a file of its own at the path, and the second
# name keeps the old file and nothing written later. A path of zel_paths.h without a
# row in the table at the end fails the test.
# Player: --speed 30, disk HARD_DISK, eth0 192.168.1.23/24, stand-in share tools.
set -u
zel_src=$1
# shellcheck source=testsupport/e2e_lib.sh
. "$zel_src/testsupport/e2e_lib.sh"
out=/player/hostile
mkdir -p $out
victim=/etc/victim
init=/etc/init.d/S60zeldaemon
echo "a file of the system's own" > $out/victim.want
# Seconds that any one program may take.
limit=30
ETH=192.168.1.0/255.255.255.0
conf=/etc/samba/lib/smb.conf
# The second name any user may give a file there.
mine=$ZEL_TMP_DIR/.mine

# The daemon's standard error, and that of the reset_zel it starts, go to $out/err
# too: each case empties it.
$init start >/dev/null 2>>$out/err
settings_file "$NONE_WANTED"

# The daemon may make its marker again between the removal and the planting: try
# again, a bounded number of times.
plant() {
    if [ "$1" = second ]; then
        rm -f "$mine"
        # The reset marker is there only while a reset runs: its row names it then.
        [ ! -e "$2" ] || ln "$2" "$mine"
        return
    fi
    _p_n=0
    while [ $_p_n -lt 20 ]; do
        rm -rf "$2"
        case $1 in
        link) ln -s $victim "$2" ;;
        fifo) mkfifo "$2" ;;
        dir) mkdir "$2" ;;
        esac 2>/dev/null && return 0
        _p_n=$((_p_n + 1))
    done
    echo "cannot plant a $1 at $2" >&2
    return 1
}

# bounded CMD ARGS...: runs the command with the time limit, its standard error
# added to $out/err; $rc is its status. A run cut off is noted in $cut.
bounded() {
    timeout -s KILL $limit "$@" 2>>$out/err
    rc=$?
    [ $rc = 137 ] && cut="$cut $1"
    return 0
}

said() { grep -qF "$1" $out/err; }
# reset_zel started within 30 s and ended within the time limit.
reset_zel_ran() { wait_for 30 -- running reset_zel && wait_for "$limit" -- not running reset_zel; }
stopped() { for p in $1; do running "$p" && return 1; done; return 0; }
all_up() { for p in $1; do running "$p" || return 1; done; return 0; }

# --- the settings file: zelctl, zel_services (the setting wireless) and the daemon
refusals_at_least() { [ "$(grep -c "^$ZEL_SETTINGS_FILE: " $out/err)" -ge "$1" ]; }
reads_upnp() { zelctl get upnp >/dev/null; }
# The path names a file of the program's own, no longer the one $mine names.
inode() { ls -di "$1" | awk '{ print $1 }'; }
apart_from_mine() { [ -f "$1" ] && [ -f "$mine" ] && [ "$(inode "$1")" != "$(inode "$mine")" ]; }
row_settings() {
    case $1 in
    setup)
        zs_scene
        settings_file "$NONE_WANTED"
        cp "$ZEL_SETTINGS_FILE" $out/settings.old
        ;;
    run)
        bounded zelctl get upnp
        get_rc=$rc
        bounded zelctl set upnp=1
        set_rc=$rc
        upnp=$(zelctl get upnp 2>/dev/null)
        bounded zelctl commit
        commit_rc=$rc
        bounded zel_services cmd=add_share opt=HARD_DISK
        # A watchdog pass reads every setting, one refusal each: the daemon serves
        # the request after it. A second name refuses nothing.
        seen=$(grep -c "^$ZEL_SETTINGS_FILE: " $out/err)
        watched=0
        [ $2 = second ] || wait_for 400 -- refusals_at_least $((seen + 8))
        watched=$?
        zelctl send a
        wait_for 20 -- running ms-mips
        served=$?
        zelctl send b
        wait_for 20 -- not running ms-mips
        bounded zelctl init
        init_rc=$rc
        ;;
    check)
        if [ $2 = second ]; then
            expect_eq "$c: zelctl get, set, get, commit, init" "$get_rc $set_rc $upnp $commit_rc $init_rc" "0 0 1 0 0"
            check "$c: zel_services exports for eth0" -- grep -qxF "$(entry HARD_DISK $ETH)" /etc/exports
            expect_eq "$c: the daemon serves a request" "$served" 0
            check "$c: a file of their own at the path" -- apart_from_mine "$ZEL_SETTINGS_FILE"
            expect_file "$c: the second name keeps the old text" "$mine" $out/settings.old
            settings_file "$NONE_WANTED"
            return
        fi
        expect_eq "$c: zelctl get refused" "$get_rc" 1
        expect_eq "$c: zelctl set refused" "$set_rc" 1
        check "$c: zel_services exports for eth0" -- grep -qxF "$(entry HARD_DISK $ETH)" /etc/exports
        expect_eq "$c: a watchdog pass over the refused file" "$watched" 0
        expect_eq "$c: and the daemon serves a request after it" "$served" 0
        if [ $2 = dir ]; then
            expect_eq "$c: zelctl init cannot write it" "$init_rc" 1
            rmdir "$ZEL_SETTINGS_FILE"
            zelctl init
        else
            expect_eq "$c: zelctl init puts a file of its own there" "$init_rc" 0
            check "$c: the settings read again" -- reads_upnp
        fi
        ;;
    esac
}

# --- the reset marker: request "r"
restart_all_ran() { journal_says setups.cgi && [ -f "$ZEL_BROWSER_FILE" ]; }
row_reset_marker() {
    case $1 in
    setup) settings_file "$NONE_WANTED" ;;
    run)
        zelctl send r
        if [ $2 = second ]; then
            # Linked while the restart-all runs: the daemon makes it anew as its own.
            wait_for 20 -- [ -e "$ZEL_RESET_MARKER" ] && ln "$ZEL_RESET_MARKER" "$mine"
            linked=$?
            wait_for 20 -- apart_from_mine "$ZEL_RESET_MARKER"
            made_anew=$?
            reset_zel_ran || cut="$cut reset_zel"
        elif [ $2 = dir ]; then
            wait_for 20 -- said "create $ZEL_RESET_MARKER: Is a directory"
            # The daemon goes on refreshing markers, which its own marker would stop.
            zelctl send c
            wait_for 20 -- [ -e "$ZEL_TMP_DIR/zel_mi" ]
            refreshed=$?
            zelctl send d
            wait_for 20 -- [ ! -e "$ZEL_TMP_DIR/zel_mi" ]
        else
            reset_zel_ran || cut="$cut reset_zel"
        fi
        ;;
    check)
        if [ "$2" = dir ]; then
            check "$c: nothing started" -- not journal_says setups.cgi
            expect_eq "$c: the markers still refreshed" "$refreshed" 0
        else
            check "$c: the restart-all ran" -- restart_all_ran
            check "$c: all services up" -- all_up "$processes"
            check "$c: the marker removed at its end" -- [ ! -e "$ZEL_RESET_MARKER" ]
        fi
        if [ "$2" = second ]; then
            expect_eq "$c: linked while the reset ran" "$linked" 0
            expect_eq "$c: the daemon's marker made anew as its own" "$made_anew" 0
        fi
        # The restart-all wanted every service: the watchdog would start them again.
        settings_file "$NONE_WANTED"
        for l in $stop_letters; do zelctl send "$l"; done
        wait_for 60 -- stopped "$processes"
        ;;
    esac
}

# --- the status markers: the refresh after a request, with the service running
# (a directory at the marker of a service that is down goes as an empty marker does)
up_and_marked() { all_up "$1" && [ -e "$2" ]; }
own_file() { [ -f "$1" ] && ! [ -L "$1" ]; }
own_empty_file() { [ -f "$1" ] && ! [ -s "$1" ] && ! [ -L "$1" ]; }
row_marker() {
    service=$(echo "$service_rows" | grep " $path ")
    set -- "$1" "$2" $service
    start=$5 stop=$6 procs=$(echo "$service" | cut -d' ' -f6-)
    case $1 in
    setup)
        zelctl send "$start"
        wait_for 30 -- up_and_marked "$procs" "$path"
        ;;
    run)
        zelctl send "$start"
        wait_for 30 -- all_up "$procs"
        up=$?
        if [ "$2" = dir ]; then
            wait_for 20 -- said "$path: Is a directory"
        elif [ "$2" = second ]; then
            wait_for 20 -- apart_from_mine "$path"
            apart=$?
        else
            wait_for 20 -- own_file "$path"
        fi
        ;;
    check)
        expect_eq "$c: the service runs" "$up" 0
        [ "$2" != second ] || expect_eq "$c: a marker of the daemon's own beside the second name" "$apart" 0
        [ "$2" = dir ] || check "$c: an empty file of the daemon's own" -- own_empty_file "$path"
        zelctl send "$stop"
        wait_for 30 -- stopped "$procs"
        [ "$2" = dir ] || check "$c: gone with the service" -- wait_for 20 -- [ ! -e "$path" ]
        ;;
    esac
}

# --- the browser's control file: the restart-all's last steps
restart_all_ended() { journal | grep -c setups.cgi | grep -qx 2 && ! [ -e "$ZEL_RESET_MARKER" ]; }
committed() { zelctl info | grep -q 'file and flash: same settings'; }
row_browser() {
    case $1 in
    setup) settings_file "$NONE_WANTED" ;;
    run)
        zelctl send r
        reset_zel_ran || cut="$cut reset_zel"
        ;;
    check)
        check "$c: the restart-all ran to its end" -- restart_all_ended
        check "$c: the settings committed" -- committed
        case $2 in
        link) check "$c: the last page in a file of its own" -- grep -q maintenance.html "$ZEL_BROWSER_FILE" ;;
        fifo) check "$c: root's FIFO kept for the browser" -- [ -p "$ZEL_BROWSER_FILE" ] ;;
        esac
        # The restart-all wanted every service: the watchdog would start them again.
        settings_file "$NONE_WANTED"
        for l in $stop_letters; do zelctl send "$l"; done
        wait_for 60 -- stopped "$processes"
        ;;
    esac
}

# --- the boot script's pid file, on a player without /var/run
row_pidfile() {
    case $1 in
    setup)
        $init stop >/dev/null
        mv /var/run /var/run.away
        ;;
    run)
        bounded $init start >/dev/null
        start_rc=$rc
        bounded $init status >/dev/null
        status_rc=$rc
        ;;
    check)
        check "$c: the daemon started" -- running zeldaemon
        if [ "$2" = dir ]; then
            expect_eq "$c: start says it cannot keep the pid" "$start_rc" 1
            # shellcheck disable=SC2046 # each pid of the name its own argument
            kill $(pidof zeldaemon)
            wait_for 20 -- not running zeldaemon
            rmdir "$ZEL_DAEMON_TMP_PID_FILE"
        else
            expect_eq "$c: start" "$start_rc" 0
            expect_eq "$c: status finds it" "$status_rc" 0
            expect_eq "$c: its pid in a file of its own" "$(cat "$ZEL_DAEMON_TMP_PID_FILE")" "$(pidof zeldaemon)"
            $init stop >/dev/null
        fi
        mv /var/run.away /var/run
        $init start >/dev/null 2>>$out/err
        ;;
    esac
}

# --- zel_services' temporary files, saved copies and answer file
zs_scene() {
    rm -rf /etc/exports $conf /etc/pureftpd.passwd /etc/pureftpd.pdb /player/share-tools/* \
        "$ZEL_EXPORTS_NEW" "$ZEL_EXPORTS_COPY" "$ZEL_EXPORTS_SAVED" "$ZEL_SHARE_LIST" "$ZEL_SMB_CONF_COPY" "$ZEL_SMB_CONF_MASTER" \
        "$ZEL_SMB_CONF_SAVED" "$ZEL_FTP_ANSWERS"
    entry share $ETH > /etc/exports
    printf '[global]\n\tworkgroup = W\n' > $conf
}
entry() { printf '/%s %s(rw,sync,root_squash,anonuid=1001,anongid=1001)\n' "$1" "$2"; }
nfs_has() { grep -q "^/HARD_DISK " /etc/exports; }
smb_has() { grep -q '^\[HARD_DISK\]$' $conf; }
in_or_out() { "$1" && echo in || echo out; }
zs_run() { bounded zel_services "$@" >/dev/null; }
# The half of add_share or remove_share that a directory at the path stops.
nfs_path() { case $path in "$ZEL_EXPORTS_NEW" | "$ZEL_EXPORTS_COPY" | "$ZEL_EXPORTS_SAVED") true ;; *) false ;; esac; }

table_rebuilt() { nfs_has && grep -q '^/share ' /etc/exports; }
row_zs_reload() {
    case $1 in
    setup) zs_scene ;;
    run) zs_run cmd=nfs_share opt=eth0 ;;
    check)
        if [ $2 = dir ]; then
            check "$c: the scan fails as when ls fails" -- said 'Reload NFS share failed'
        else
            check "$c: the table rebuilt" -- table_rebuilt
        fi
        ;;
    esac
}

# add_share, or remove_share for the copies a removal makes. A directory stops the
# half whose table the path serves; the other half is done.
row_zs_share() {
    case $path in
    "$ZEL_EXPORTS_COPY" | "$ZEL_SMB_CONF_COPY") op=remove_share after=out ;;
    *) op=add_share after=in ;;
    esac
    case $1 in
    setup)
        zs_scene
        [ $op = add_share ] || zel_services cmd=add_share opt=HARD_DISK 2>/dev/null
        ;;
    run) zs_run cmd=$op opt=HARD_DISK ;;
    check)
        before=$([ $after = in ] && echo out || echo in)
        nfs=$after smb=$after
        if [ $2 = dir ] && nfs_path; then
            nfs=$before
        elif [ $2 = dir ]; then
            smb=$before
        fi
        expect_eq "$c: HARD_DISK in or out of the tables" "$(in_or_out nfs_has) $(in_or_out smb_has)" "$nfs $smb"
        ;;
    esac
}

answers_read() { printf '\n\n' | cmp -s - /player/share-tools/1-pure-pw.stdin; }
row_zs_ftp() {
    case $1 in
    setup) zs_scene ;;
    run)
        printf 'pw\npw\n' > $out/password
        zs_run cmd=ftp_passwd opt=ftpuser < $out/password
        ;;
    check)
        # shellcheck disable=SC2010 # the stand-ins' own names, N-TOOL.args
        useradd=$(ls /player/share-tools | grep -c 'pure-pw.args')
        if [ $2 = dir ]; then
            expect_eq "$c: no account without answers, the password still set" "$useradd" 1
        else
            expect_eq "$c: account created, then the password set" "$useradd" 2
            check "$c: the answers read" -- answers_read
        fi
        ;;
    esac
}

# The rows of the paths of zel_paths.h, by name. "-": tested elsewhere, by name.
row_of() {
    case $1 in
    ZEL_SETTINGS_FILE) echo settings ;;
    ZEL_RESET_MARKER) echo reset_marker ;;
    ZEL_BROWSER_FILE) echo browser ;;
    ZEL_DAEMON_TMP_PID_FILE) echo pidfile ;;
    ZEL_SHARE_LIST) echo zs_reload ;;
    ZEL_EXPORTS_NEW | ZEL_EXPORTS_SAVED | ZEL_SMB_CONF_MASTER | ZEL_SMB_CONF_SAVED) echo zs_share ;;
    ZEL_EXPORTS_COPY | ZEL_SMB_CONF_COPY) echo zs_share ;;
    ZEL_FTP_ANSWERS) echo zs_ftp ;;
    # The same table in reset_zel.setting_log: no program of the system calls its
    # operations.
    ZEL_SETUP_LOG) echo - ;;
    esac
}
rows=""
unlisted=""
while read -r name path; do
    case $path in "$ZEL_TMP_DIR"/*) ;; *) continue ;; esac
    row=$(row_of "$name")
    case $row in
    "") unlisted="$unlisted $name" ;;
    -) ;;
    *) rows="$rows$path $row
" ;;
    esac
done <<PATHS
$(sed -n 's/^export \(ZEL_[A-Z0-9_]*\)=/\1 /p' /player/bin/zel_paths.sh)
PATHS
expect_eq "every path of zel_paths.h under $ZEL_TMP_DIR has a row" "$unlisted" ""
for m in $markers; do rows="$rows$m marker
"; done

dir_named() { [ -d "$1" ] && said "$1: Is a directory"; }
neither_link_nor_fifo() { ! [ -L "$1" ] && ! [ -p "$1" ]; }
for kind in link fifo dir second; do
    while read -r path row <&3; do
        [ -n "$path" ] || continue
        case $kind.$row in
        second.settings | second.reset_marker | second.marker | [lfd]*) ;;
        *) continue ;;
        esac
        c="$path, $kind"
        failed=$t_failed
        cp $out/victim.want $victim
        "row_$row" setup $kind
        plant $kind $path
        : > /player/journal
        : > $out/err
        cut=""
        "row_$row" run $kind
        expect_eq "$c: no program cut off" "$cut" ""
        expect_file "$c: victim unchanged" $victim $out/victim.want
        if [ $kind = dir ]; then
            check "$c: the directory stays, named on standard error" -- dir_named "$path"
        elif [ "$path" != "$ZEL_BROWSER_FILE" ] || [ $kind != fifo ]; then
            check "$c: nothing followed or waited on there" -- neither_link_nor_fifo "$path"
        fi
        "row_$row" check $kind
        rm -rf $path "$mine"
        [ "$t_failed" = "$failed" ] || sed 's/^/     standard error: /' $out/err | head -20
    done 3<<ROWS
$rows
ROWS
done

# The browser keeps its FIFO there and reads it, a page at a time: it gets the three
# pages of a restart-all, in order.
c="$ZEL_BROWSER_FILE, the browser's FIFO"
settings_file "$NONE_WANTED"
rm -rf "$ZEL_BROWSER_FILE"
mkfifo "$ZEL_BROWSER_FILE"
(while :; do cat "$ZEL_BROWSER_FILE"; done) > $out/browser &
browser=$!
zelctl send r
reset_zel_ran
expect_eq "$c: the restart-all ended" $? 0
expect_eq "$c: the three pages, in order" "$(grep -o '[a-z_]*\.html' $out/browser | paste -sd' ')" \
    "media_server.html network.html maintenance.html"
kill $browser
# The reader's last cat waits in its open: a writer lets it end.
exec 4<>"$ZEL_BROWSER_FILE"
exec 4>&-
rm "$ZEL_BROWSER_FILE"
finish
