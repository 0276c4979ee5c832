/* The player's firmware folders and the files in them that the programs name: the
 * one place these paths are written. The programs compile them in; the build reads
 * the same lines (cmake/ZelPaths.cmake) to install into them and to write them for
 * the shell. One literal string per line, so that both can read it.
 *
 * C-compatible and installed beside zelmsg.h, whose queue key folder is ZEL_BIN_DIR. */
#ifndef ZEL_PATHS_H
#define ZEL_PATHS_H

/* The programs of this system and the tools they run (pure-pw, testparm, btcli). */
#define ZEL_BIN_DIR "/mnt/oak7210/bin"
/* The services' start and stop scripts. */
#define ZEL_SERVER_DIR "/mnt/oak7210/server"
#define ZEL_ETC_DIR "/mnt/oak7210/etc"
/* key=value lines for a player whose flash holds no settings. */
#define ZEL_DEFAULTS_FILE "/mnt/oak7210/etc/setting.defaults"
/* The web server's pages, which reset_zel shows in the browser, and its setup CGI,
 * which the daemon and reset_zel run. */
#define ZEL_WEB_DIR "/opt/oakhttpd/default"
#define ZEL_SETUP_CGI "/opt/oakhttpd/default/setups.cgi"

#endif
