// The FTP server's account (ftp.cpp).
#ifndef ZEL_SERVICES_FTP_H
#define ZEL_SERVICES_FTP_H

int chg_ftp_passwd(const char *login);

#endif // ZEL_SERVICES_FTP_H
