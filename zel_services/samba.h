// The Samba configuration (samba.cpp).
#ifndef ZEL_SERVICES_SAMBA_H
#define ZEL_SERVICES_SAMBA_H

#include "zel_paths.h"

#define SMB_CONF_PATH ZEL_SMB_CONF_FILE
#define SMB_MASTER_PATH ZEL_SMB_CONF_MASTER

int chg_samba_workgrp(const char *workgroup);
int add_smb_share(const char *list);
// check_new_sections against the Samba configuration; -2 (said) when a saved copy of
// it could not be put back.
int check_smb_sections(const char *list);
int remove_smb_share(const char *name);

#endif // ZEL_SERVICES_SAMBA_H
