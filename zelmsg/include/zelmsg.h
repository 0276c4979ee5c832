/* zelmsg: the settings store, the flash settings partition, the service-request
 * queue and two diagnostics of the player's service programs.
 *
 * C-compatible: other programs of the player, written in C, link this library
 * and send service requests exactly as the programs of this system do.
 *
 * Two builds of the library share this header:
 *   libzelmsg.a         settings store with the settings lock, queue (zeldaemon, reset_zel)
 *   libzelmsg_nolock.a  settings store without lock, no queue (zel_services);
 *                       it alone carries get_dirty().
 */
#ifndef ZELMSG_H
#define ZELMSG_H

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- service-request queue (libzelmsg.a only) ---- */

/* The channel number is both the ftok project number and the message type word. */
typedef enum {
    SETUP_2_ZELD = 207
} ZELMTYPE;

struct my_msgbuf {
    long mtype;    /* the channel number on send */
    char mtext[1]; /* the request character; no terminator travels */
};

#define ZEL_QUEUE_DIR "/mnt/oak7210/bin"

/* ftok("/mnt/oak7210/bin", mtype); -1 after perror("ftok"). */
key_t get_setup_zel_key(ZELMTYPE mtype);
/* Queues the first character of str. 0 when it is on the queue, -1 otherwise. */
int addmsg(const char *str, ZELMTYPE mtype, int msgflg);
/* Takes the oldest message without waiting; gotmsg gets the character and a NUL.
 * 0 when a request was taken, -1 when none was waiting or on failure. */
int getmsg(char *gotmsg, ZELMTYPE mtype, int msgflg);

/* ---- settings store ---- */

#define SETTING_FILE "/tmp/setting.txt"
#define SETTING_BUF_SIZE 65536
#define SETTING_KEYWORD_SIZE 1024

/* Per-process working buffer; the byte after the 65536 always holds NUL. */
extern char buffer_setting[SETTING_BUF_SIZE + 1];
extern char keyword_all[SETTING_KEYWORD_SIZE];
extern char f_dirty;

int read_file(const char *path, char *buffer, int maxlen);
int write_file(const char *path, const char *text);
char *find_var(const char *key);
int get_var(char *dest, int size, const char *key);
int strcpy_del2(char *dest, const char *src, int size, char delim);
int remove_var_(const char *key);

/* A copy of the value that the caller releases with free(), or NULL. */
char *get_var_mem(const char *key);
int write_var(const char *key, const void *value, int is_int);
int write_str(const char *key, const char *value);
int write_int(const char *key, const int *value);
int remove_var(const char *key);

int get_lock(void);     /* libzelmsg.a only */
int release_lock(void); /* libzelmsg.a only */
int get_dirty(void);    /* libzelmsg_nolock.a only */

/* ---- flash settings partition ---- */

#define SETTING_DEVICE "/dev/mtd1"
#define SETTING_UNLOCK_DEVICE "/dev/mtd0"
#define SETTING_IMAGE_SIZE 65536

int open_setting_device(const char *path);
int flash_read_setting_device(char *buffer);
int mtd_erase_setting_(const char *device);
int mtd_erase_setting(void);
int flash_write_0(const char *path);
int flash_write_setting_device(const char *path);
int init_flash_var(void);
int save_commit(void);

/* ---- diagnostics ---- */

int dump(int line, const void *addr, int length);
int escape_control(int c);

#ifdef __cplusplus
}
#endif

#endif /* ZELMSG_H */
