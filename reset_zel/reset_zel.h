// reset_zel: service start and stop requests through zeldaemon, logged setting
// changes, and the restart-all sequence.
#ifndef RESET_ZEL_H
#define RESET_ZEL_H

#include "service_table.h"

// One poll of a start or stop: this pause, then one process check.
#define POLL_PAUSE_USEC 200000
#define SETUP_LOG ZEL_SETUP_LOG
// The on-device browser's control file.
#define BROWSER_FILE ZEL_BROWSER_FILE

// Seams to the OS, set once; tests fake the process table, the pause and the queue.
// check_process returns the shell status of the pidof check: 0 while the process runs.
extern int (*check_process)(const char *name);
extern void (*pause_usec)(unsigned usec);
extern int (*send_request)(const char *letter);

// Each returns 0 when the service ended up as asked (or already was), -1 when the
// request could not be queued or a stop did not take effect in time, and a start
// that timed out returns the non-zero status of its last process check.
int start_upnp(int max_checks);
int stop_upnp(int max_checks);
int start_hlink(int max_checks);
int stop_hlink(int max_checks);
int start_ftp(int max_checks);
int stop_ftp(int max_checks);
int restart_smb(int max_checks);
int stop_smb(int max_checks);
int start_nfs(int max_checks);
int stop_nfs(int max_checks);
int start_btpd(int max_checks);
int stop_btpd(int max_checks);
int start_nzb(int max_checks);
int stop_nzb(int max_checks);
int start_vantle(int max_checks);
int stop_vantle(int max_checks);

// Queue a request without checking or waiting: 0 when it is on the queue, else -1.
int update_smbpasswd(void);
int reset_zel_apps(void);

// Stop every running service, then start every service, each waiting for its
// process, in the turns and with the polls of the service table.
void restart_services(void);

// Runs one of the shell lines that write a page address "> /tmp/lumo_bc", after
// making sure what the shell meets there is a file of our own or the browser's FIFO
// (owned by root), and that it cannot wait on that FIFO.
void point_browser(const char *command);

// Write a setting only when it changes, logging each comparison to SETUP_LOG.
// -1 for a null argument, 0 when the value was already stored, 1 when written.
int save_setting_change_str(const char *name, const char *new_value);
int save_setting_change_int(const char *name, const int *new_value);

#endif
