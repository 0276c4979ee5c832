// Service watchdog and status markers.
#include "daemon.h"

void check_services(void)
{
}

void update_markers(int group)
{
    (void)group;
}
