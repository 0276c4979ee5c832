/* The player's fixed paths: the firmware folders, the shared folder /tmp and every
 * file of the system's in it, the settings file and the flash devices. The one place
 * these paths are written. The programs compile them in; the build reads the same
 * lines (cmake/ZelPaths.cmake) to install into them, to fill them into the boot
 * scripts and to write them for the shell (zel_paths.sh). Each path is one line:
 * a literal string, or the name of a path above followed by one literal string.
 *
 * C-compatible and installed beside zelmsg.h, whose queue key folder is ZEL_BIN_DIR. */
#ifndef ZEL_PATHS_H
#define ZEL_PATHS_H

#include <string.h>

/* The programs of this system and the tools they run (pure-pw, testparm, btcli). */
#define ZEL_BIN_DIR "/mnt/oak7210/bin"
/* The services' start and stop scripts. */
#define ZEL_SERVER_DIR "/mnt/oak7210/server"
#define ZEL_ETC_DIR "/mnt/oak7210/etc"
/* key=value lines for a player whose flash holds no settings. */
#define ZEL_DEFAULTS_FILE ZEL_ETC_DIR "/setting.defaults"
/* The web server's pages, which reset_zel shows in the browser, and its setup CGI,
 * which the daemon and reset_zel run. */
#define ZEL_WEB_DIR "/opt/oakhttpd/default"
#define ZEL_SETUP_CGI ZEL_WEB_DIR "/setups.cgi"

/* The servers' configuration that zel_services writes: the NFS export table, the
 * Samba configuration, and pure-ftpd's accounts as text and as the database. */
#define ZEL_EXPORTS_FILE "/etc/exports"
#define ZEL_SMB_CONF_FILE "/etc/samba/lib/smb.conf"
#define ZEL_FTP_PASSWD_FILE "/etc/pureftpd.passwd"
#define ZEL_FTP_PASSWD_DB "/etc/pureftpd.pdb"

/* The flash partition of the settings, and the one whose open unlocks it for writing. */
#define ZEL_SETTINGS_DEVICE "/dev/mtd1"
#define ZEL_SETTINGS_UNLOCK_DEVICE "/dev/mtd0"

/* The folder every process may create names in: a file of the system's there is
 * opened only as a regular file of its own (zel_in_tmp below). */
#define ZEL_TMP_DIR "/tmp"
/* The settings store, which every program reads and writes. */
#define ZEL_SETTINGS_FILE ZEL_TMP_DIR "/setting.txt"
/* There while reset_zel restarts every service: the daemon creates it, reset_zel
 * removes it. */
#define ZEL_RESET_MARKER ZEL_TMP_DIR "/reset_zel"
/* The on-device browser's control file, where reset_zel writes a page address. */
#define ZEL_BROWSER_FILE ZEL_TMP_DIR "/lumo_bc"
/* reset_zel's log of the setting changes that the setup CGI made. */
#define ZEL_SETUP_LOG ZEL_TMP_DIR "/setup_cgi_log"
/* The boot script's pid file, where the player has no writable ZEL_RUN_DIR. */
#define ZEL_RUN_DIR "/var/run"
#define ZEL_DAEMON_PID_FILE ZEL_RUN_DIR "/zeldaemon.pid"
#define ZEL_DAEMON_TMP_PID_FILE ZEL_TMP_DIR "/zeldaemon.pid"
/* zel_services: the root's listing, which the NFS and Samba tables are rebuilt from. */
#define ZEL_SHARE_LIST ZEL_TMP_DIR "/share.list"
/* zel_services: the new NFS table, the copy a removal edits, and the table as it was
 * before the last change. */
#define ZEL_EXPORTS_NEW ZEL_TMP_DIR "/exports"
#define ZEL_EXPORTS_COPY ZEL_TMP_DIR "/exports.tmp"
#define ZEL_EXPORTS_SAVED ZEL_TMP_DIR "/exports.saved"
/* zel_services: the Samba configuration's copy a removal edits, the text testparm
 * reads, and the configuration as it was before the last change. */
#define ZEL_SMB_CONF_COPY ZEL_TMP_DIR "/smb.conf"
#define ZEL_SMB_CONF_MASTER ZEL_TMP_DIR "/smb.conf.master"
#define ZEL_SMB_CONF_SAVED ZEL_TMP_DIR "/smb.conf.saved"
/* zel_services: the answers pure-pw reads for an FTP password. */
#define ZEL_FTP_ANSWERS ZEL_TMP_DIR "/input.script"

/* 1 when PATH names something inside ZEL_TMP_DIR, where anybody may plant a link, a
 * FIFO or a file of their own; 0 for every other path. */
static inline int zel_in_tmp(const char *path)
{
    const size_t n = sizeof ZEL_TMP_DIR - 1;
    return strncmp(path, ZEL_TMP_DIR, n) == 0 && path[n] == '/';
}

#endif
