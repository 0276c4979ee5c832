// reset_zel: restarts every network service through zeldaemon, which started it on
// request "r", then commits the settings and steers the browser through the setup
// pages. Every step runs whatever the one before it did; the exit status is always 0.
#include "reset_zel.h"

#include "zelmsg.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main()
{
    restart_services();

    // The daemon keeps its markers and watchdog idle while this exists; the commit
    // comes after, so it holds every setting written above.
    remove(RESET_MARKER);
    save_commit();

    system(ZEL_SETUP_CGI);
    // The newline inside the quotes is a real one: the browser reads the page
    // address followed by two newlines.
    point_browser("echo -e \"file://" ZEL_WEB_DIR "/media_server.html::\n\"  > " BROWSER_FILE);
    sleep(2);
    point_browser("echo -e \"file://" ZEL_WEB_DIR "/network.html::\n\" > " BROWSER_FILE);
    sleep(2);
    point_browser("echo -e \"file://" ZEL_WEB_DIR "/maintenance.html::\n\" > " BROWSER_FILE);
    return 0;
}
