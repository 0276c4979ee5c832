// The NFS export table (nfs.cpp).
#ifndef ZEL_SERVICES_NFS_H
#define ZEL_SERVICES_NFS_H

#include "zel_paths.h"

#define EXPORTS_PATH ZEL_EXPORTS_FILE
#define EXPORT_OPTIONS "(rw,sync,root_squash,anonuid=1001,anongid=1001)"

// Rebuilds the table from the disk shares, for the network of the interface.
int reload_nfs_share(const char *ifname);
int add_nfs_share(const char *list);
int remove_nfs_share(const char *name);

#endif // ZEL_SERVICES_NFS_H
