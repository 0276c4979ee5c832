// zeldaemon: runs the service scripts that other programs request over the
// service-request queue, restarts services that died, publishes status markers.
// Stays in the foreground; the boot script puts it in the background.
#include "daemon.h"

int main()
{
    struct loop_state state;
    loop_start(&state);
    for (;;)
        loop_pass(&state);
}
