// The pure rules of the NFS export table that its tests reach (nfs.cpp); the command
// table uses nfs.h.
#ifndef ZEL_SERVICES_NFS_INTERNAL_H
#define ZEL_SERVICES_NFS_INTERNAL_H

#include <stdio.h>

#include "nfs.h"
#include "text_sizes.h"

// The interface's address or netmask in dotted form into out (IF_TEXT_SIZE); -1, and
// "#" in out, when the kernel gives none.
int get_interface_addr(char *out, const char *ifname);
int get_interface_netmask(char *out, const char *ifname);
// The clients of an export for the interface into out (CLIENT_SPEC_SIZE): its network,
// or "*" (every client) when it has no address.
int get_export_network(char *out, const char *ifname);
// The clients of an export ("net/mask") for an address and a netmask in dotted form.
void compose_export_network(char *out, const char *addr, const char *netmask);
int write_export_entry(FILE *f, const char *name, const char *client);
// true when the first field of the table line names the folder, or a folder inside it.
bool export_entry_is(const char *line, const char *name);
// Copies the table, leaving out the entries of the folder.
void filter_exports(FILE *in, FILE *out, const char *name);

#endif // ZEL_SERVICES_NFS_INTERNAL_H
