// What the root scan's tests reach inside it (root_scan.cpp); the other modules use
// root_scan.h.
#ifndef ZEL_SERVICES_ROOT_SCAN_INTERNAL_H
#define ZEL_SERVICES_ROOT_SCAN_INTERNAL_H

#include <stdio.h>

#include "root_scan.h"

// Root entries that are disks: "HARD_DISK", "SATA_DISK" or "USB_DRIVE_" anywhere.
bool is_disk_share(const char *name);
// Reads the listing up to the next disk share with a valid name and leaves its name
// in line (a buffer of LINE_SIZE). true when one was found, false at the end. A disk
// that Samba would take for an earlier one (the same name in another case) is left
// out with a message.
bool next_disk_share(FILE *list, char *line);

#endif // ZEL_SERVICES_ROOT_SCAN_INTERNAL_H
