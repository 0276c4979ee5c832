// The scan of the root directory for disk shares, and the configurations rebuilt
// from it (root_scan.cpp).
#ifndef ZEL_SERVICES_ROOT_SCAN_H
#define ZEL_SERVICES_ROOT_SCAN_H

#include <stdio.h>

#include "config_file.h"

// A configuration made of one entry per shared folder of the root: "share", then
// every disk. head, when there is one, writes what comes before the entries.
struct root_config {
    const config_file *conf;
    const char *temp; // written first, in mode, then put in place by command
    const char *mode;
    const config_command *command;
    const char *list_failed; // said when the root cannot be listed
    int (*head)(FILE *out, const void *ctx);
    int (*entry)(FILE *out, const char *name, const void *ctx);
};

// Lists the root into /tmp/share.list and replaces the configuration with what
// head and entry write for it (replace_config), after putting back a saved copy
// (recover_config). The listing is removed when the replacement succeeded and
// left for a look otherwise. 0 when the configuration was replaced.
int replace_from_root(const root_config &how, const void *ctx);

#endif // ZEL_SERVICES_ROOT_SCAN_H
